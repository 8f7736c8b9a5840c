// Registration of the automation server: the D-Bus service file that lets
// the session bus start the program on demand when a client calls
// "Lumaro3.Application".
#pragma once

#include <string>

inline constexpr const char* kAutomationServiceName = "Lumaro3.Application";

// $XDG_DATA_HOME/dbus-1/services (default ~/.local/share/dbus-1/services).
std::string DBusServicesFolder();
// The service file in that folder: "Lumaro3.Application.service".
std::string AutomationServiceFilePath();

// The service file's text for a program: its Exec line starts the program
// with --automation. Empty when the path cannot be written on an Exec line
// (a line break in it).
std::string AutomationServiceFileText(const std::string& programPath);

// Writes the service file for the program (folders made as needed; the file
// replaced in one step). False on failure, with the reason.
bool RegisterAutomationServer(const std::string& programPath, std::string* error = nullptr);
// Removes the service file; true when it is gone afterwards.
bool UnregisterAutomationServer(std::string* error = nullptr);
