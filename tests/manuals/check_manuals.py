#!/usr/bin/env python3
"""check_manuals.py ROOT PDF...: every message-box text of the product (followed back from the calls that show boxes)
and every line of problem-lines.txt has a row in the Configuration Manual's troubleshooting chapter; cross-references
have a title to show; short tables and listings are unbreakable; the PDF files hold every picture, no [anchor]."""
import re, subprocess, sys
from pathlib import Path

LIT = r'L?"(?:[^"\\\n]|\\.)*"'


def literal(arg):   # the text of an argument made of string literals only
    parts = re.findall(LIT, arg)
    if parts and not re.sub(LIT, '', arg).strip():
        return ''.join(p.lstrip('L')[1:-1].encode().decode('unicode_escape') for p in parts)


def calls(text):   # (name, arguments) of each call
    for m in re.finditer(r'\b(\w+)\s*\(', text):
        depth, args, i = 1, [''], m.end()
        while depth and i < len(text):
            tok = re.match(LIT + '|.', text[i:], re.S).group()
            i, depth = i + len(tok), depth + (tok in '([{') - (tok in ')]}')
            args = args + [''] if depth == 1 and tok == ',' else args[:-1] + [args[-1] + tok * (depth > 0)]
        yield m.group(1), [a.strip() for a in args]


def box_texts(functions):   # until no new function is found to pass a parameter on to a box
    shown = dict.fromkeys(('showMessageBox', 'showMessageBoxA', 'engineMessageBox', 'engineMessageBoxA'), 0)
    texts, grown = set(), True
    while grown:
        grown = False
        for body in functions:
            held, seen, body_calls = set(), set(), list(calls(body))
            def take(arg):   # a text, or the buffer or parameter that holds it
                texts.add(literal(arg)) if literal(arg) is not None else held.update(re.findall(r'\w+', arg)[-1:])
            for name, args in body_calls:
                if shown.get(name, 99) < len(args):
                    take(args[shown[name]])
            while held - seen:
                var = min(held - seen)
                seen.add(var)
                for name, args in body_calls:
                    if args[0] == var:   # written: by the format or the source after any size
                        take(next((a for a in args[1:] if not re.match(r'\d|sizeof', a)), ''))
                    elif args[1:2] == [var] and re.fullmatch(r'\w+', args[0]):   # converted from the first
                        held.add(args[0])
                texts.update(literal(t) for t in re.findall(r'\b%s\s*=\s*(%s)' % (var, LIT), body))
                for name, params in re.findall(r'(\w+)\s*(?:=\s*\[[^\]]*\]\s*)?\(([\w\s*&:,]*)\)\s*\{', body):
                    names = [re.findall(r'[\s*&](\w+)\s*$', p) for p in params.split(',')]
                    if [var] in names and name not in shown:
                        shown[name], grown = names.index([var]), True
    return texts


def main(root, *pdfs):
    blank = lambda m: m.group() if m.group()[-1] == '"' else ' '   # comments and characters go
    sources = [re.sub(LIT + r'|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/', blank, p.read_text(), flags=re.S)
               for d in ('app', 'atcommand', 'batch', 'common', 'framework', 'panels', 'serial', 'settings')
               for p in sorted(Path(root, d).rglob('*.cpp'))]
    manuals = {p.name: p.read_text() for p in sorted(Path(root, 'docs/manual').glob('*.adoc'))}
    chapter = manuals['configuration-manual.adoc'].split('[[troubleshooting]]\n== ')[1].split('\n== ')[0]
    lines = Path(__file__).with_name('problem-lines.txt').read_text().splitlines()
    failures = ['problem-lines.txt: not in the product: ' + t for t in lines if not any(
        literal(f) == t for s in sources for f in re.findall(LIT, s))]
    texts = sorted(box_texts([f for s in sources for f in re.split(r'\n\}[^\n]*\n', s)])) + lines
    failures += ['no troubleshooting row: %r' % t for t in texts   # a format's %d and %s match any text
                 if not re.search('.*?'.join(map(re.escape, re.split(r'%l?[sdu]', t))), chapter)]
    for name, text in manuals.items():
        failures += [f'{name}: <<{r}>> has no title to show' for r in set(re.findall(r'<<([\w-]+)>>', text))
                     if not re.search(r'\[\[%s(,[^\]]+\]\]|\]\]\n+(=+ |\.\w))' % r, text)]
        failures += [f'{name}: may break over a page: {b[2][:40]!r}' for b in re.findall(
            r'(\[[^\n]*\]\n)?(\|===|\.\.\.\.|----)\n(.*?)\n\2\n', text, re.S)
            if 'unbreakable' not in b[0] and (b[1] != '|===' or len(b[2]) < 2500)]   # shorter than half a page
    anchors = {a for t in manuals.values() for a in re.findall(r'\[\[([\w-]+)', t)}
    captions = [c for t in manuals.values() for c in re.findall(r'^\.(\w.*)\nimage::', t, re.M)]
    images = sum(t.count('\nimage::') for t in manuals.values())
    run = lambda *a: subprocess.run(a, capture_output=True, text=True, check=True).stdout
    pages = {p: run('pdftotext', p, '-') for p in pdfs}
    pdf_text = ' '.join(' '.join(t.split()) for t in pages.values())
    pictures = sum(len(re.findall(r'^ *\d+ +\d+ +image', run('pdfimages', '-list', p), re.M)) for p in pdfs)
    failures += [f'{p}: fewer than two pages' for p, t in pages.items() if t.count('\f') < 2]
    failures += [f'[{a}] left in a PDF file' for a in anchors if f'[{a}]' in pdf_text]
    failures += [f'no caption in the PDF files: {c}' for c in captions if ' '.join(c.split()) not in pdf_text]
    if not images == len(captions) == pictures:
        failures.append(f'{images} pictures, {len(captions)} captions, {pictures} in the PDF files')
    print('\n'.join(failures) or f'{len(texts)} texts quoted; {len(anchors)} anchors, {images} pictures checked')
    return bool(failures)


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
