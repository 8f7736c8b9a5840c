// The check for a newer version: fetches the version file over HTTP (libcurl),
// reads the announced version after the marker "tessel ver" and compares it
// with the program's own "FileVersion".
//
// The fetch blocks for at most the time-out; the desktop dialog runs it off
// its UI thread and shows the message that the result names.
#pragma once

#include <cstdint>
#include <string>

// Marker at the start of the version file.
inline constexpr const char* kVersionFileMarker = "tessel ver";
// Agent name of every request.
inline constexpr const char* kUpdateAgentName = "Lumaro application";
// Only this many bytes of the answer are read.
inline constexpr size_t kVersionFileReadLimit = 10000;

struct UpdateCheckRequest {
  // 0: the environment's proxy settings (http_proxy, no_proxy); any other
  // value: the named proxy "host:port" below, with no bypass list.
  int mode = 0;
  std::string versionUrl;
  std::string proxyHost;
  std::string proxyPort;
  // Accepted and not used.
  std::string user;
  std::string password;
  // Time allowed to connect, and for the whole request (milliseconds).
  long connectTimeoutMs = 10000;
  long totalTimeoutMs = 15000;
  // The version compared against ("3, 3, 0, 5"); when unset, the running
  // program's own "FileVersion".
  bool useOwnVersion = true;
  std::string ownVersion;
};

enum class UpdateResult {
  NoConnection,  // string 183: nothing reached
  NoVersionFile, // string 181: reached, but the answer lacks the marker
  NewVersion,    // string 185: a newer version is announced
  NoUpdate,      // string 187
};

struct UpdateCheckOutcome {
  UpdateResult result = UpdateResult::NoConnection;
  // The announced version (valid when the marker was found).
  uint32_t major = 0;
  uint32_t minor = 0;
  // The first bytes of the answer, as read (at most the read limit).
  std::string answer;
};

// Performs the request and the comparison; shows nothing. Safe to call from
// any thread.
UpdateCheckOutcome CheckForUpdate(const UpdateCheckRequest& request);

// The same check with the arguments of the update dialog.
UpdateCheckOutcome CheckForUpdate(int mode, const std::string& versionUrl,
                                  const std::string& proxyHost, const std::string& proxyPort,
                                  const std::string& user, const std::string& password);

// The proxy text of mode 1: "host:port".
std::string ProxyText(const std::string& host, const std::string& port);

// Parses the version file text: false when it does not begin with the
// marker. Every marker and blank is removed, the rest split at dots (empty
// pieces skipped); major and minor are the decimal values of the first two
// pieces (digits up to the first other character; missing pieces read 0).
bool ParseVersionFile(const std::string& text, uint32_t& major, uint32_t& minor);

// Major and minor of a "FileVersion" text ("3, 3, 0, 5" or "3.3.0.5"): its
// first two numbers split at '.' or ','; an empty text gives 0.0.
void ParseOwnVersion(const std::string& fileVersion, uint32_t& major, uint32_t& minor);

// True when major.minor is newer than ownMajor.ownMinor.
bool IsNewerVersion(uint32_t major, uint32_t minor, uint32_t ownMajor, uint32_t ownMinor);

// String number of the message for a result (181, 183, 185, 187).
int UpdateMessageId(UpdateResult result);

// The message text of an outcome in the current language; 185 is filled
// with the announced major and minor.
std::string UpdateMessageText(const UpdateCheckOutcome& outcome);
