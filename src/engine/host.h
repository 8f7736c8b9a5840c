// The conversion engine talks to people only through this interface. The
// desktop program implements it by marshalling to the user-interface thread;
// batch mode implements it on the terminal.
#pragma once

#include <cstdint>
#include <string>

// What a message is: the sign shown beside its text, or a question.
enum class Notice {
  Plain,        // no sign
  Information,
  Warning,
  Error,
  Question,     // Yes and No buttons (drawn with the warning sign: every question
                // the program asks warns that something may be lost)
};

// What the user answered.
enum class Answer {
  Ok,
  Cancel,  // nothing was answered (the message could not be shown)
  Yes,
  No,
};

// The counts of a finished job.
struct JobCounts {
  int converted = 0;
  int failed = 0;
  int skipped = 0;
};

// The summary line of a job: string 172 with the three counts.
std::string FormatSummary(const JobCounts& counts);

class CImage;
struct PropertyItemList;

// What the interactive adjustment dialog is given and gives back.
struct InteractiveRequest {
  CImage* image = nullptr;
  std::string captionSuffix;  // " - %s, %dx%d"
  long brightness = 0;
  long contrast = 0;
  int rotation = 3;  // RotationMode values
  int flip = 2;      // FlipMode values
  const PropertyItemList* items = nullptr;
  int itemCount = 0;
  // Out:
  bool dontShowAgain = false;   // "Больше не показывать это окно"
  bool applyToAll = false;      // "Применить текущие установки ко всем ..."
};

class IConversionHost {
 public:
  virtual ~IConversionHost() = default;

  // Progress (called by the worker thread).
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressCaption(const std::string& text) = 0;
  virtual void SetFileText(const std::string& text) = 0;
  virtual void Step() = 0;
  // Lets the progress display see the done event and close.
  virtual void Pump() = 0;

  // A message; the caller waits until it is closed. caption empty = the
  // application's name. A question offers Yes and No, defaultAnswer being
  // the button that Enter presses, and returns Yes or No; every other notice
  // has an OK button and returns Ok.
  virtual Answer Message(const std::string& text, const std::string& caption, Notice notice,
                         Answer defaultAnswer) = 0;

  // The interactive adjustment dialog, modal; returns its result code
  // (1 convert with changes, 5 skip, anything else convert unchanged).
  virtual int ShowInteractive(InteractiveRequest& request) = 0;

  // The job finished, after its done event was set: normally, or stopped
  // by the user (stopped). The host tells the counts (the desktop program
  // with a message box titled string 60001, or the application's name after a
  // stop; batch mode on standard output) and returns once that is done.
  virtual void JobFinished(const JobCounts& counts, bool stopped) = 0;

  // The main window's native id that filters receive (see lumaro_filter.h);
  // 0 when there is no window (batch mode).
  virtual uint32_t MainWindowId() const { return 0; }

  // Asked once per job, before the first output that would replace the very
  // file it was made from while backups are off: true lets such outputs
  // replace their sources. The default asks a question whose default
  // answer is No.
  virtual bool AllowReplacingSources();

  // A file failed to load or to be written, with the reason (batch mode
  // prints it; the desktop program only counts it).
  virtual void FileFailed(const std::string& path, const std::string& reason) {
    (void)path;
    (void)reason;
  }
};

// Message 124: the output file outputBase (named without extension) cannot
// be created. The worker shows it as an error where a write fails.
std::string CannotCreateFileText(const std::string& outputBase);
