#!/usr/bin/env python3
"""The manuals test: check_manuals.py ROOT PDF...
Against the sources: every message-box text of the product (found from the
calls that show boxes) and every line of problem-lines.txt is quoted in the
Configuration Manual's troubleshooting chapter; each cross-reference points
at an anchor with a title; short tables and every listing are unbreakable.
Against the built PDF files: no anchor left in brackets, every picture there."""
import re
import subprocess
import sys
from pathlib import Path

LIT = r'L?"(?:[^"\\]|\\.)*"'
CODE = r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/'   # strings kept, the rest blanked
SHOWN = {'showMessageBox': 0, 'showMessageBoxA': 0, 'engineMessageBox': 0, 'engineMessageBoxA': 0}


def literal(arg):
    """The text of an argument made of string literals only, else None."""
    parts = re.findall(LIT, arg)
    if not parts or re.sub(LIT, '', arg).strip():
        return None
    return ''.join(p.lstrip('L')[1:-1].encode().decode('unicode_escape') for p in parts)


def calls(text):
    """(name, arguments) of every call in text."""
    for m in re.finditer(r'\b(\w+)\s*\(', text):
        depth, args, arg, i = 1, [], '', m.end()
        while depth and i < len(text):
            tok = re.match(LIT + r'|.', text[i:], re.S).group()
            i += len(tok)
            depth += (tok in ('(', '[', '{')) - (tok in (')', ']', '}'))
            if depth == 1 and tok == ',':
                args, arg = args + [arg.strip()], ''
            elif depth:
                arg += tok
        yield m.group(1), args + [arg.strip()]


def box_texts(sources):
    """The texts a box shows, followed back from each call that shows one
    through the buffers that hold them and the parameters that carry them."""
    shown, texts, grown = dict(SHOWN), set(), True
    chunks = [c for s in sources for c in re.split(r'\n\}[^\n]*\n', s)]   # one function each
    while grown:
        grown = False
        for chunk in chunks:
            held, found = set(), []
            def take(arg):
                text = literal(arg)
                if text is not None:
                    found.append(text)
                elif re.findall(r'\w+', arg):
                    held.add(re.findall(r'\w+', arg)[-1])
            chunk_calls = list(calls(chunk))
            for name, args in chunk_calls:
                if name in shown and shown[name] < len(args):
                    take(args[shown[name]])
            seen = set()
            while held - seen:
                var = min(held - seen)
                seen.add(var)
                for name, args in chunk_calls:
                    if args[0] == var:      # written: by the format or the source after any size
                        take(next((a for a in args[1:] if not re.match(r'\d|sizeof', a)), ''))
                    elif len(args) > 1 and args[1] == var and re.fullmatch(r'\w+', args[0]):
                        held.add(args[0])   # converted from the first argument
                found += [literal(t) for t in re.findall(r'\b%s\s*=\s*(%s)' % (var, LIT), chunk)]
                for name, params in re.findall(r'(\w+)\s*(?:=\s*\[[^\]]*\]\s*)?\(([\w\s*&:,]*)\)\s*\{', chunk):
                    names = [re.findall(r'\w+(?=\s*$)', p) for p in params.split(',')]
                    if [var] in names and re.search(r'\w[\s*&]+%s\b' % var, params) and name not in shown:
                        shown[name], grown = names.index([var]), True
            texts.update(found)
    return texts


def pattern(text):
    """A format's conversions match any text."""
    return '.*?'.join(map(re.escape, re.split(r'%l?[sdu]', text)))


def main():
    root, pdfs, failures = Path(sys.argv[1]), sys.argv[2:], []
    sources = [re.sub(CODE, lambda m: m.group() if m.group()[0] == '"' else ' ', p.read_text(errors='replace'), flags=re.S) for d in ('app', 'atcommand', 'common', 'framework', 'panels', 'serial',
               'settings') for p in sorted((root / d).rglob('*.cpp'))]
    manuals = {p.name: p.read_text() for p in sorted((root / 'docs/manual').glob('*.adoc'))}
    chapter = manuals['configuration-manual.adoc'].split('[[troubleshooting]]\n== ')[1].split('\n== ')[0]
    lines = Path(__file__).with_name('problem-lines.txt').read_text().splitlines()
    literals = {literal(t) for s in sources for t in re.findall(LIT, s)}
    failures += ['problem-lines.txt: not in the product: ' + t for t in lines if t not in literals]
    texts = sorted(box_texts(sources)) + lines
    failures += ['no troubleshooting row: ' + repr(t) for t in texts if not re.search(pattern(t), chapter)]
    anchors = set()
    for name, text in manuals.items():
        anchors |= set(re.findall(r'\[\[([\w-]+)', text))
        for ref in set(re.findall(r'<<([\w-]+)>>', text)):
            if not re.search(r'\[\[%s(,[^\]]+\]\]|\]\]\n+(=+ |\.\w))' % ref, text):
                failures.append(f'{name}: <<{ref}>> points at an anchor with no title to show')
        for block in re.finditer(r'(\[[^\n]*\]\n)?(\.[^\n]+\n)?(\|===|\.\.\.\.|----)\n(.*?)\n\3\n', text, re.S):
            short = block.group(3) != '|===' or len(block.group(4)) < 2500   # under half a page
            if short and 'unbreakable' not in (block.group(1) or ''):
                failures.append(f'{name}: a short table or listing may break: ' + block.group(4)[:50])
    images = sum(len(re.findall(r'^image::', t, re.M)) for t in manuals.values())
    titles = [t for m in manuals.values() for t in re.findall(r'^\.(\w[^\n]*)\nimage::', m, re.M)]
    failures += [f'a picture without a caption ({len(titles)} of {images} have one)'] if len(titles) < images else []
    text, pictures = '', 0
    for pdf in pdfs:
        page_text = subprocess.run(['pdftotext', pdf, '-'], capture_output=True, text=True, check=True).stdout
        failures += [f'{pdf}: fewer than 2 pages'] if page_text.count('\f') < 2 else []
        text += ' '.join(page_text.split())
        pictures += len(re.findall(r'^\s*\d+\s+\d+\s+image', subprocess.run(
            ['pdfimages', '-list', pdf], capture_output=True, text=True, check=True).stdout, re.M))
    failures += [f'[{a}] left in a PDF' for a in anchors if f'[{a}]' in text]
    failures += [f'picture not in the PDF: {t}' for t in titles if ' '.join(t.split()) not in text]
    failures += [f'{pictures} pictures in the PDF files, {images} in the manuals'] if pictures != images else []
    print('\n'.join(failures) or f'{len(texts)} texts quoted, {len(anchors)} anchors, {images} pictures')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
