// Judging a complete answer and making it take effect on the records, the
// port and the windows.
#include "atcommand/adapter_settings.h"
#include "atcommand/internal.h"
#include "common/debuglog.h"
#include "common/notify.h"
#include "serial/uart.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <cwchar>

namespace {

bool hasReply() { return atCommand.param[0] != '\0'; }

// The reply line without the CR LF at either end.
void replyText(char* field, size_t size)
{
    size_t length = strlen(atCommand.param);
    if (length <= 4)
        copyText(field, size, "");
    else
        copyText(field, size, atCommand.param + 2, length - 4);
}

// What follows the first "=" of the command, up to its CR.
bool valueAfterEquals(char* field, size_t size)
{
    const char* equals = strchr(atCommand.command, '=');
    if (!equals)
        return false;
    copyText(field, size, equals + 1, strcspn(equals + 1, "\r"));
    return true;
}

void unknownParameter()
{
    debugLog("AT_COMMAND: Unknown parameter %s received in response to %s", atCommand.param, atCommand.command);
}

void unknownCommand() { debugLog("AT_COMMAND: Unknown command %s", atCommand.command); }

// Whether `actual` is the parts one after the other, and nothing more.
bool spells(const char* actual, std::initializer_list<const char*> parts)
{
    for (const char* part : parts) {
        size_t length = strlen(part);
        if (strncmp(actual, part, length) != 0)
            return false;
        actual += length;
    }
    return *actual == '\0';
}

// A setting with words of its own: the reply ("\r\nECHO+\r\n") or, without
// one, the command ("AT+ECHO+\r") says the value. Returns true when the
// command set the value (the port may need to follow).
bool applyWords(const AdapterSetting& row)
{
    const bool reply = hasReply();
    for (int i = 0; i < row.wordCount(); ++i) {
        const SettingWord& word = row.words[i];
        if (reply ? spells(atCommand.param, {"\r\n", row.word, word.command, "\r\n"})
                  : spells(atCommand.command, {"AT+", row.word, word.command, "\r"})) {
            row.value() = word.value;
            noteKnownSetting(row.held);
            return !reply;
        }
    }
    if (reply)
        unknownParameter();
    else
        unknownCommand();
    return false;
}

// Makes the open port follow the adapter's new line settings.
void reapply(const wchar_t* failure, int value)
{
    if (portChangeSettings() == 0)
        return;
    wchar_t text[256];
    swprintf(text, 256, failure, value);
    engineMessageBox(text);
}

// The link has ended without a report: the lights and both Bluetooth panels
// show it (Disconnect and Cancel Inquiry follow the flags, the Remote Device
// panel an empty address and the handshake offered again).
void showLinkEnded()
{
    handshakeState = HANDSHAKE_IDLE;
    memset(remoteAddress, 0, sizeof remoteAddress);
    linkMayRemain = 0;
    postNotify(ID_NOTIFY_STATUS);
    postNotify(ID_NOTIFY_INQUIRY_END);
    postNotify(ID_NOTIFY_REMOTE_DEVICE);
}

// Role, flow control, discoverable and auto-connect changes end a connection.
void connectionCheck()
{
    if (device.isConnected != 1)
        return;
    device.isConnected = 0;
    device.isDataMode = 0;
    device.isHandshakeActive = 0;
    showLinkEnded();
}

void handleWords(const AdapterSetting& row)
{
    if (row.kind == SettingKind::Role && !hasReply() && pairing.pairState == PAIR_DEVICE2_FOUND)
        debugLog("Setting Device 2 as slave. Ignore this response");
    else if (applyWords(row) && row.reapplyFailure)
        reapply(row.reapplyFailure, row.value());
    if (row.endsConnection)
        connectionCheck();
    postNotify(ID_NOTIFY_LOCAL_DEVICE);
}

bool allDigits(const char* text)
{
    if (*text == '\0')
        return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
    }
    return true;
}

void handleBaud()
{
    char digits[RESPONSE_SIZE];
    if (hasReply()) {
        // "\r\nBAUD17\r\n": the digits after the word.
        size_t length = strlen(atCommand.param);
        size_t end = length >= 2 ? length - 2 : 0;
        copyText(digits, sizeof digits, end > 6 ? atCommand.param + 6 : "", end > 6 ? end - 6 : 0);
        if (!allDigits(digits)) {
            unknownParameter();
        } else {
            device.baudCode = atoi(digits);
            uart.baud = baudCodeToRate(device.baudCode);
            noteKnownSetting(&uart.baud);
        }
    } else {
        // "AT+BAUD17\r": the digits after "AT+BAUD".
        const char* command = atCommand.command;
        size_t length = strlen(command);
        size_t end = (length > 0 && command[length - 1] == '\r') ? length - 1 : length;
        copyText(digits, sizeof digits, end > 7 ? command + 7 : "", end > 7 ? end - 7 : 0);
        if (!allDigits(digits)) {
            unknownCommand();
        } else {
            device.baudCode = atoi(digits);
            uart.baud = baudCodeToRate(device.baudCode);
            noteKnownSetting(&uart.baud);
            reapply(L"Failed to set baudrate %d", device.baudCode);
        }
    }
    postNotify(ID_NOTIFY_LOCAL_DEVICE);
}

void handleReset()
{
    uart.baud = kBaudSettings[DEFAULT_BAUD_ROW].rate;
    uart.stopBits = 1;
    uart.parity = kParitySettings[DEFAULT_PARITY_ROW].code;
    uart.flow = 1;
    if (portChangeSettings() != 0)
        engineMessageBox(
            L"Failed to set default uart settings baud 19200, parity NONE, stopBits 1, flowcontrol ENABLED");
    device.echoOn = 1;
    device.role = ROLE_SLAVE;
    device.responseOn = 1;
    device.discoverable = 1;
    device.escapeOn = 1;
    device.sleepOn = 0;
    device.autoConnect = 1;
    device.baudCode = kBaudSettings[DEFAULT_BAUD_ROW].code;
    device.pinDisabled = 0;
    device.bonded = 0;
    device.isConnected = 0;
    device.isDataMode = 0;
    device.isInquiryActive = 0;
    device.remoteConfig = 1;
    device.isHandshakeActive = 0;
    copyText(device.name, sizeof device.name, "Serial Adapter");
    copyText(device.pin, sizeof device.pin, "8642");
    // Reset values are what the adapter holds now, as if read.
    noteAllKnownSettings();
    logFormatted(responseLogText, "Local Device reset successful");
    postNotify(ID_NOTIFY_LOCAL_DEVICE);
    // The reset ends any link and any inquiry.
    showLinkEnded();
}

void handleInquiry()
{
    bool cancel = strcmp(atCommand.command, "AT+FIND-\r") == 0;
    if (hasReply()) {
        // The framing keeps the reply line's closing CR LF; either form ends it.
        if (cancel && (strcmp(atCommand.param, "\r\nInquiry Cancelled") == 0 ||
                       strcmp(atCommand.param, "\r\nInquiry Cancelled\r\n") == 0)) {
            logFormatted(responseLogText, "Inquiry cancelled.");
            device.isInquiryActive = 0;
        }
        return;
    }
    if (strcmp(atCommand.command, "AT+FIND?\r") == 0) {
        device.isInquiryActive = 1;
        memset(&inquiry, 0, sizeof inquiry);
        postNotify(ID_NOTIFY_INQUIRY_CLEAR);
        inquiry.keepNextByte = 1;
        logFormatted(responseLogText, "Inquiry started...");
    } else if (cancel) {
        logFormatted(responseLogText, "Inquiry cancelled.");
        device.isInquiryActive = 0;
    }
}

void handleBond()
{
    if (hasReply()) {
        char text[RESPONSE_SIZE];
        replyText(text, sizeof text);
        device.bonded = strcmp(text, "0000-00-000000") == 0 ? 0 : 1;
        logFormatted(logText, "Local Device bonded with %s", text);
        return;
    }
    if (strcmp(atCommand.command, "AT+BOND-\r") == 0) {
        if (pairing.pairState == UNPAIR_DEVICE1) {
            pairing.pairState = UNPAIR_DEVICE2;
            device.bonded = 0;
        } else if (pairing.pairState == UNPAIR_DEVICE2) {
            bIndex = BAUD_CODE_FIRST;
            bTry = 0;
            pairing.pairState = PAIR_IDLE;
        } else {
            device.bonded = 0;
        }
    } else if (strchr(atCommand.command, '=')) {
        if (pairing.pairState == PAIR_DEVICE2_FOUND) {
            pairing.pairState = PAIR_DEVICE2_BONDED;
        } else if (pairing.pairState == PAIR_DEVICE2_BONDED) {
            pairing.pairState = PAIR_COMPLETE;
            device.bonded = 1;
        } else {
            device.bonded = 1;
        }
    }
}

void handleConnect()
{
    if (strcmp(atCommand.param, "Attempt Fail!!") == 0) {
        device.isConnected = 0;
        device.isDataMode = 0;
        formatText(logText, "Local Device failed to connect to remote device. %s", atCommand.param);
        engineMessageBoxA(logText);
        return;
    }
    size_t n = 0;
    for (const char* c = atCommand.param; *c != '\0' && n + 1 < sizeof remoteAddress; ++c) {
        if (*c != '"' && *c != ' ')
            remoteAddress[n++] = *c;
    }
    remoteAddress[n] = '\0';
    linkMayRemain = 0;
    device.isConnected = 1;
    device.isDataMode = 1;
    postNotify(ID_NOTIFY_STATUS);
    postNotify(ID_NOTIFY_INQUIRY_END);
    postNotify(ID_NOTIFY_REMOTE_DEVICE);
    formatText(logText, "Local Device connected to remote device with address %s", atCommand.param);
    engineMessageBoxA(logText);
}

void handleDisconnect()
{
    linkMayRemain = 0;
    device.isConnected = 0;
    device.isDataMode = 0;
    handshakeState = HANDSHAKE_IDLE;
    memset(remoteAddress, 0, sizeof remoteAddress);
    postNotify(ID_NOTIFY_STATUS);
    postNotify(ID_NOTIFY_INQUIRY_END);
    postNotify(ID_NOTIFY_REMOTE_DEVICE);
    formatText(logText, "Local Device disconnected from remote device with address %s", atCommand.param);
    engineMessageBoxA(logText);
}

void handleAttention()
{
    if (device.isDeviceInitialised == 0) {
        device.isDeviceInitialised = 1;
        // The adapter answers on these line settings and behind this port.
        for (const int32_t* field : {&uart.port, &uart.baud, &uart.stopBits, &uart.parity, &uart.flow})
            noteKnownSetting(field);
        postNotify(ID_NOTIFY_STATUS);
        logFormatted(responseLogText, "Local Device initialised successfully");
    } else if (pairing.pairState == PAIR_SEARCHING_DEVICE2) {
        // The second adapter of the pairing procedure has been found.
        pairing.pairState = PAIR_DEVICE2_FOUND;
        bIndex = BAUD_CODE_FIRST;
        bTry = 0;
    }
}

void handleVersion()
{
    if (hasReply()) {
        replyText(device.version, sizeof device.version);
        postNotify(ID_NOTIFY_FIRMWARE_VERSION);
    }
}

void handleEnquire() { postNotify(ID_NOTIFY_LOCAL_DEVICE); }

void handleAddress()
{
    if (!hasReply())
        return;
    if (pairing.pairState == PAIR_DEVICE2_FOUND) {
        replyText(pairing.device2Address, sizeof pairing.device2Address);
        postNotify(ID_NOTIFY_PAIR_DEVICE);
    } else {
        replyText(device.address, sizeof device.address);
        postNotify(ID_NOTIFY_LOCAL_DEVICE);
    }
}

void handleName()
{
    if (hasReply()) {
        if (pairing.pairState == PAIR_DEVICE2_FOUND) {
            replyText(pairing.device2Name, sizeof pairing.device2Name);
            postNotify(ID_NOTIFY_PAIR_DEVICE);
        } else {
            replyText(device.name, sizeof device.name);
            noteKnownSetting(device.name);
            postNotify(ID_NOTIFY_LOCAL_DEVICE);
        }
        return;
    }
    if (valueAfterEquals(device.name, sizeof device.name))
        noteKnownSetting(device.name);
    postNotify(ID_NOTIFY_LOCAL_DEVICE);
}

void handlePin()
{
    if (hasReply()) {
        char text[RESPONSE_SIZE];
        replyText(text, sizeof text);
        if (strcmp(text, "NULL") == 0) {
            device.pinDisabled = 1;
        } else {
            device.pinDisabled = 0;
            copyText(device.pin, sizeof device.pin, text);
            noteKnownSetting(device.pin);
        }
        noteKnownSetting(&device.pinDisabled);
    } else if (strcmp(atCommand.command, "AT+PIN-\r") == 0) {
        device.pinDisabled = 1;
        noteKnownSetting(&device.pinDisabled);
    } else if (valueAfterEquals(device.pin, sizeof device.pin)) {
        device.pinDisabled = 0;
        noteKnownSetting(device.pin);
        noteKnownSetting(&device.pinDisabled);
    }
    postNotify(ID_NOTIFY_LOCAL_DEVICE);
}

void handleConnectAnswer() { debugLog("ATCOMMAND: AT+CONN command response received successfully"); }

void handleDropAnswer() { debugLog("ATCOMMAND: AT+DROP command response received successfully"); }

void handleDataMode()
{
    device.isDataMode = 1;
    logFormatted(responseLogText, "Device switched from Command to Data Mode");
}

void handleEscapeSequence()
{
    device.isDataMode = 0;
    logFormatted(responseLogText,
                 "Escape Sequence +++ received for local device. Device switched from Data to Command Mode");
}

// The families with a handling of their own; those with words are handled
// from the settings table, and SignalStrength and Upgrade need nothing.
struct FamilyHandler {
    AtCommandId family;
    void (*handle)();
};

const FamilyHandler kFamilyHandlers[] = {
    {Family::Attention, handleAttention},
    {Family::Version, handleVersion},
    {Family::Enquire, handleEnquire},
    {Family::Reset, handleReset},
    {Family::Baud, handleBaud},
    {Family::Address, handleAddress},
    {Family::Find, handleInquiry},
    {Family::Name, handleName},
    {Family::Pin, handlePin},
    {Family::Connect, handleConnectAnswer},
    {Family::Drop, handleDropAnswer},
    {Family::Bond, handleBond},
    {Family::DataMode, handleDataMode},
    {Family::EscapeSequence, handleEscapeSequence},
    {Family::ConnectReport, handleConnect},
    {Family::DisconnectReport, handleDisconnect},
};

void handleFamily(AtCommandId id)
{
    for (const FamilyHandler& handler : kFamilyHandlers) {
        if (handler.family == id) {
            handler.handle();
            return;
        }
    }
    if (const AdapterSetting* row = settingOfFamily(id); row && row->wordCount() > 0)
        handleWords(*row);
}

} // namespace

int32_t handleCommandResponse()
{
    EngineLock lock;
    if (strcmp(atCommand.response, "\r\nERROR\r\n") == 0) {
        if (device.isDeviceInitialised == 1)
            logFormatted(responseLogText, "Command %s failed. Response ERROR", atCommand.command);
        else
            logFormatted(responseLogText, "Device Initialzation Failed. Cmd %s Response ERROR", atCommand.command);
        postNotify(ID_NOTIFY_LOCAL_DEVICE);
        if (pairing.pairState != PAIR_IDLE)
            pairing.pairFailed = 1;
        return 1;
    }
    if (strcmp(atCommand.response, "\r\nOK\r\n") != 0 && strcmp(atCommand.response, "\r\n") != 0) {
        if (device.isDeviceInitialised == 1)
            logFormatted(responseLogText, "Command %s failed. Response Invalid", atCommand.command);
        else
            logFormatted(responseLogText,
                         "Device Initialzation Failed. Cmd %s Response Invalid. baud %d flow %d parity %d stopbits %d",
                         atCommand.command, uart.baud, uart.flow, uart.parity, uart.stopBits);
        return 0;
    }
    AtCommandId id = findCommand(atCommand.command);
    if (id == Family::None) {
        logFormatted(responseLogText, "Invalid Command %s", atCommand.command);
        debugLog("ATCOMMAND: invalid command %s", atCommand.command);
        return 0;
    }
    if (atCommand.showInLog == LOG_SHOWN)
        logFormatted(responseLogText, "Received Response %s %s for command %s", atCommand.response, atCommand.param,
                     atCommand.command);
    handleFamily(id);
    return 1;
}
