// One change to every setting of the example adapter (setExampleRecords and
// the Local Device panel's known adapter hold the same), and the command each
// change makes. Program Device and programming from a loaded file make these
// same commands, each in its own order.
#pragma once
#include "atcommand/program.h"
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

inline std::vector<std::string> everyChangeIn(std::initializer_list<Setting> order)
{
    static const std::map<Setting, std::string> commands = {
        {Setting::Baud, "AT+BAUD17\r"},          // 115200
        {Setting::StopBits, "AT+STOP2\r"},
        {Setting::Parity, "AT+PAR2\r"},          // even
        {Setting::Flow, "AT+FLOW-\r"},
        {Setting::Name, "AT+NAME=Other Adapter\r"},
        {Setting::Pin, "AT+PIN=1111\r"},
        {Setting::RemovePin, "AT+PIN-\r"},
        {Setting::Echo, "AT+ECHO-\r"},
        {Setting::Escape, "AT+ESC-\r"},
        {Setting::Sleep, "AT+SLEEP+\r"},
        {Setting::Response, "AT+RESP-\r"},
        {Setting::RemoteConfig, "AT+RCFG-\r"},
        {Setting::Discoverable, "AT+DCOV-\r"},
        {Setting::AutoConnect, "AT+ACON-\r"},
        {Setting::Role, "AT+ROLEM\r"},
    };
    std::vector<std::string> texts;
    for (Setting setting : order)
        texts.push_back(commands.at(setting));
    return texts;
}
