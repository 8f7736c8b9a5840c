// Mailing the files a job wrote: a new message in the user's mail program,
// through xdg-email, with a fixed subject, a short English body and one
// attachment per file. The user picks the recipients and sends it there.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kMailSubject = "Images Converted by Lumaro";
inline constexpr const char* kMailProgram = "xdg-email";

// The body of the message.
const std::string& MailBody();

// The full path of an executable file of that name on PATH (empty when there
// is none). A name with a '/' is taken as it is.
std::string FindProgramOnPath(const std::string& name);

// True when xdg-email is on PATH.
bool IsMailAvailable();

enum class MailResult {
  Sent,           // handed to the mail program (or cancelled there): no message
  NothingToSend,  // mail not available or no file: nothing was done
  LoadFailed,     // xdg-email could not be started
  InvalidClient,  // no mail program that xdg-email can use
  SendFailed,     // any other failure
};

// The arguments given to xdg-email (without the program itself).
std::vector<std::string> MailArguments(const std::vector<std::string>& files);

// Hands the files to the mail program and waits for xdg-email to end. Runs
// no shell: every name reaches xdg-email as one argument, made absolute.
// Blocks; the desktop calls it off its UI thread.
MailResult SendResultsByMail(const std::vector<std::string>& files);

// The message of a failure (empty for Sent and NothingToSend), in the
// current language.
std::string MailFailureText(MailResult result);
