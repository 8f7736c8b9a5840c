// Mailing the written files from the desktop program.
#pragma once

#include <string>
#include <vector>

class QWidget;

// Hands the files to the mail program (nothing when the list is empty or
// mail is not available). The window of parent stays disabled and the wait
// cursor shows while xdg-email runs on its own thread; a failure is shown
// in a message box.
void SendResultsByMailUi(QWidget* parent, const std::vector<std::string>& files);
