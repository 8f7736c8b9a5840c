#include "services/update_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "services/strings.h"
#include "services/version_record.h"

namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  std::string data;
  size_t limit = kVersionFileReadLimit;
  bool full = false;
};

// Keeps the first bytes of the body and ends the transfer once the limit is
// reached, so an endless or huge answer costs no more than that.
size_t OnBody(char* bytes, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t total = size * count;
  const size_t room = t->limit - t->data.size();
  const size_t take = std::min(room, total);
  t->data.append(bytes, take);
  if (t->data.size() >= t->limit) {
    t->full = true;
    return 0;  // stops the transfer
  }
  return take;
}

// The decimal value at the start of a piece: leading white space skipped,
// digits up to the first other character, kept within 32 bits.
uint32_t PieceValue(std::string_view piece) {
  size_t i = 0;
  while (i < piece.size() && std::isspace(static_cast<unsigned char>(piece[i]))) ++i;
  uint64_t value = 0;
  for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
    value = value * 10 + uint64_t(piece[i] - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return uint32_t(value);
}

// The first two non-empty pieces of text split at any of the separators.
void FirstTwoNumbers(std::string_view text, std::string_view separators, uint32_t& first,
                     uint32_t& second) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (start <= text.size() && pieces.size() < 2) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  first = pieces.size() > 0 ? PieceValue(pieces[0]) : 0;
  second = pieces.size() > 1 ? PieceValue(pieces[1]) : 0;
}

// Fills the first two "%d" of a table text with the numbers (unsigned);
// "%%" gives "%". Anything else is copied as it is.
std::string FillTwoNumbers(const std::string& format, uint32_t a, uint32_t b) {
  std::string out;
  int used = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 'd' && used < 2) {
        out += std::to_string(used == 0 ? a : b);
        ++used;
        ++i;
        continue;
      }
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

}  // namespace

std::string ProxyText(const std::string& host, const std::string& port) { return host + ":" + port; }

bool ParseVersionFile(const std::string& answer, uint32_t& major, uint32_t& minor) {
  major = minor = 0;
  // The answer is text up to its first NUL.
  std::string_view text(answer.c_str());
  const std::string_view marker = kVersionFileMarker;
  if (text.size() < marker.size() || text.compare(0, marker.size(), marker) != 0) return false;

  std::string rest;
  rest.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, marker.size(), marker) == 0) {
      i += marker.size();
      continue;
    }
    if (text[i] != ' ') rest += text[i];
    ++i;
  }
  FirstTwoNumbers(rest, ".", major, minor);
  return true;
}

void ParseOwnVersion(const std::string& fileVersion, uint32_t& major, uint32_t& minor) {
  FirstTwoNumbers(fileVersion, ".,", major, minor);
}

bool IsNewerVersion(uint32_t major, uint32_t minor, uint32_t ownMajor, uint32_t ownMinor) {
  return major > ownMajor || (major == ownMajor && minor > ownMinor);
}

UpdateCheckOutcome CheckForUpdate(const UpdateCheckRequest& request) {
  UpdateCheckOutcome outcome;
  InitCurlOnce();
  CURL* curl = curl_easy_init();
  if (!curl) return outcome;  // no connection

  Transfer transfer;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Cache-Control: no-cache");
  headers = curl_slist_append(headers, "Pragma: no-cache");

  const std::string proxy = ProxyText(request.proxyHost, request.proxyPort);
  curl_easy_setopt(curl, CURLOPT_URL, request.versionUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUpdateAgentName);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, request.connectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, std::max(1L, request.totalTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  if (request.mode != 0) {
    // The named proxy for this request only, with no bypass list (an
    // empty list also overrides no_proxy of the environment).
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  }
  // Mode 0 leaves the proxy unset: libcurl then follows http_proxy,
  // https_proxy, all_proxy and no_proxy of the environment.

  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);

  // Nothing answered: no connection. An answer that broke off or timed out
  // after its headers counts with what had arrived.
  const bool answered = status != 0;
  if (rc != CURLE_OK && !transfer.full && !answered) return outcome;

  outcome.answer = std::move(transfer.data);
  if (!ParseVersionFile(outcome.answer, outcome.major, outcome.minor)) {
    outcome.result = UpdateResult::NoVersionFile;
    return outcome;
  }
  const std::string own = request.useOwnVersion ? OwnFileVersion() : request.ownVersion;
  uint32_t ownMajor = 0, ownMinor = 0;
  ParseOwnVersion(own, ownMajor, ownMinor);
  outcome.result = IsNewerVersion(outcome.major, outcome.minor, ownMajor, ownMinor)
                       ? UpdateResult::NewVersion
                       : UpdateResult::NoUpdate;
  return outcome;
}

UpdateCheckOutcome CheckForUpdate(int mode, const std::string& versionUrl,
                                  const std::string& proxyHost, const std::string& proxyPort,
                                  const std::string& user, const std::string& password) {
  UpdateCheckRequest request;
  request.mode = mode;
  request.versionUrl = versionUrl;
  request.proxyHost = proxyHost;
  request.proxyPort = proxyPort;
  request.user = user;
  request.password = password;
  return CheckForUpdate(request);
}

int UpdateMessageId(UpdateResult result) {
  switch (result) {
    case UpdateResult::NoConnection: return IDS_UPDATE_NO_CONNECTION;
    case UpdateResult::NoVersionFile: return IDS_UPDATE_NOT_FOUND_FILE;
    case UpdateResult::NewVersion: return IDS_UPDATE_NEW_VERSION;
    case UpdateResult::NoUpdate: return IDS_UPDATE_NONE;
  }
  return IDS_UPDATE_NO_CONNECTION;
}

std::string UpdateMessageText(const UpdateCheckOutcome& outcome) {
  std::string text = LoadResString(UpdateMessageId(outcome.result));
  if (outcome.result == UpdateResult::NewVersion)
    text = FillTwoNumbers(text, outcome.major, outcome.minor);
  return text;
}
