// The settings file: format, reader, writer and the File menu commands.
#pragma once
#include "atcommand/adapter_settings.h"
#include "common/seams.h"
#include <cstdint>
#include <cstdio>
#include <string>

int readSettingsFile(const char* fileName);
// Writes uart and device to the file: all of it or, on any failure, nothing
// (a temporary file in the same folder takes the place of the old one).
int writeSettingsFile(const char* fileName);
// The text writeSettingsFile writes, line ends as "\n".
std::string adapterSettingsText();

// Writes the last known settings to `path` (a full path), completely or not
// at all. Returns 1 when written, 0 otherwise.
int writeLastKnownSettings(const wchar_t* path);
void loadSettingsFile();
void saveSettingsFile();
