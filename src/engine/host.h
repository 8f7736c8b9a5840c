// The conversion engine talks to people only through this interface. The
// desktop program implements it by marshalling to the user-interface thread;
// batch mode implements it on the terminal.
#pragma once

#include <cstdint>
#include <string>

// Message box styles and answers, with the values the program has always used.
enum : unsigned {
  MB_OK = 0x0,
  MB_YESNO = 0x4,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON2 = 0x100,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

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

  // A message box; the caller waits until it is answered. caption empty =
  // the application's name. Returns IDOK, IDYES or IDNO.
  virtual int MessageBox(const std::string& text, const std::string& caption,
                         unsigned style) = 0;

  // The interactive adjustment dialog, modal; returns its result code
  // (1 convert with changes, 5 skip, anything else convert unchanged).
  virtual int ShowInteractive(InteractiveRequest& request) = 0;

  // The job ended normally and its summary was closed (WM_CONVERSION_DONE).
  virtual void ConversionDone() = 0;

  // The main window's native id that filters receive (see lumaro_filter.h);
  // 0 when there is no window (batch mode).
  virtual uint32_t MainWindowId() const { return 0; }

  // Asked once per job, before the first output that would replace the very
  // file it was made from while backups are off: true lets such outputs
  // replace their sources. The default asks with a Yes/No message box whose
  // default button is No.
  virtual bool AllowReplacingSources();

  // A file failed to load or to be written, with the reason (batch mode
  // prints it; the desktop program only counts it).
  virtual void FileFailed(const std::string& path, const std::string& reason) {
    (void)path;
    (void)reason;
  }
};

// Private messages to the main window.
enum : unsigned {
  WM_APP_BASE = 0x8000,
  WM_STAGES_CHANGED = WM_APP_BASE + 1,
  WM_CONVERSION_DONE = WM_APP_BASE + 2,
  WM_TREE_SELECTION_CHANGED = WM_APP_BASE + 3,
  WM_TREE_ITEMS_DROPPED = WM_APP_BASE + 4,
};

// The host that the writers and stages of the calling thread report to
// (the worker sets it for its thread; nullptr = print nothing).
IConversionHost* CurrentHost();
void SetCurrentHost(IConversionHost* host);

// Shows a message through the current host; without a host it is dropped
// and IDOK (or IDYES for questions) is returned.
int HostMessage(const std::string& text, const std::string& caption, unsigned style);
