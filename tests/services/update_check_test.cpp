// The update check against a version server and a proxy on 127.0.0.1 that
// the tests start: announced versions, wrong and hostile answers, network
// failures and time-outs, and the two proxy modes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>

#include "local_server.h"
#include "services/strings.h"
#include "services/update_check.h"
#include "services/version_record.h"

using testing_support::HttpResponse;
using testing_support::LocalServer;
using testing_support::SendAll;
using testing_support::SleepUnlessStopped;

namespace {

// Clears the proxy variables of the environment for a test and puts them
// back afterwards.
class UpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* v = std::getenv(name);
      if (v) saved_[name] = v;
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : kNames) {
      auto it = saved_.find(name);
      if (it != saved_.end())
        setenv(name, it->second.c_str(), 1);
      else
        unsetenv(name);
    }
  }

  static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy",
                                           "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                           "no_proxy",   "NO_PROXY"};
  std::map<std::string, std::string> saved_;
};

// A server that answers every request with the same bytes.
LocalServer::Handler Answer(const std::string& response) {
  return [response](int fd, const std::string&, const std::atomic<bool>&) { SendAll(fd, response); };
}

UpdateCheckRequest Request(const std::string& url, const std::string& own = "3, 3, 0, 5") {
  UpdateCheckRequest r;
  r.versionUrl = url;
  r.useOwnVersion = false;
  r.ownVersion = own;
  r.connectTimeoutMs = 2000;
  r.totalTimeoutMs = 3000;
  return r;
}

UpdateCheckOutcome CheckBody(const std::string& body, const std::string& own = "3, 3, 0, 5") {
  LocalServer server(Answer(HttpResponse(body)));
  return CheckForUpdate(Request(server.url(), own));
}

double SecondsOf(const std::function<void()>& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_F(UpdateCheck, AnnouncedVersionsAgainstOwnThreeThree) {
  struct Case {
    const char* body;
    UpdateResult result;
    uint32_t major, minor;
  } cases[] = {
      {"tessel ver 3.5", UpdateResult::NewVersion, 3, 5},
      {"tessel ver 3.3", UpdateResult::NoUpdate, 3, 3},
      {"tessel ver 2.9", UpdateResult::NoUpdate, 2, 9},
      {"tessel ver 4", UpdateResult::NewVersion, 4, 0},
      {"tessel ver 3 . 10", UpdateResult::NewVersion, 3, 10},
      {"tessel ver 3.4\r\nnotes: tessel ver 9.9\r\n", UpdateResult::NewVersion, 3, 4},
      {"tessel ver3.2", UpdateResult::NoUpdate, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    UpdateCheckOutcome o = CheckBody(c.body);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.major, c.major);
    EXPECT_EQ(o.minor, c.minor);
  }
}

TEST_F(UpdateCheck, AnswersWithoutTheMarkerGive181) {
  for (const std::string& body :
       {std::string("\xEF\xBB\xBFtessel ver 3.5"), std::string("<html><body>tessel ver 9.9</body></html>"),
        std::string(""), std::string(" tessel ver 3.5"), std::string("Tessel ver 3.5"),
        std::string("tessel v"), std::string("\0tessel ver 3.5", 15)}) {
    UpdateCheckOutcome o = CheckBody(body);
    EXPECT_EQ(o.result, UpdateResult::NoVersionFile) << body;
    EXPECT_EQ(UpdateMessageId(o.result), 181);
  }
  // An error page of the server is reached, so it is a missing file too.
  LocalServer server(Answer(HttpResponse("<h1>Not found</h1>", "404 Not Found")));
  EXPECT_EQ(CheckForUpdate(Request(server.url())).result, UpdateResult::NoVersionFile);
}

TEST_F(UpdateCheck, RequestCarriesAgentAndNoCacheHeaders) {
  LocalServer server(Answer(HttpResponse("tessel ver 3.3")));
  EXPECT_EQ(CheckForUpdate(Request(server.url("/dir/tessel.ver"))).result, UpdateResult::NoUpdate);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& head = requests[0];
  EXPECT_EQ(head.rfind("GET /dir/tessel.ver HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: Lumaro application\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nPragma: no-cache\r\n"), std::string::npos) << head;
  // No compressed answer is asked for.
  EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos) << head;
}

TEST_F(UpdateCheck, RedirectIsFollowedWithinHttp) {
  LocalServer target(Answer(HttpResponse("tessel ver 5.1")));
  LocalServer server(Answer(HttpResponse("", "302 Found", "Location: " + target.url() + "\r\n")));
  UpdateCheckOutcome o = CheckForUpdate(Request(server.url()));
  EXPECT_EQ(o.result, UpdateResult::NewVersion);
  EXPECT_EQ(o.major, 5u);
  // A redirect to another scheme is not followed.
  LocalServer toFile(Answer(HttpResponse("", "302 Found", "Location: file:///etc/passwd\r\n")));
  EXPECT_NE(CheckForUpdate(Request(toFile.url())).result, UpdateResult::NewVersion);
}

TEST_F(UpdateCheck, OwnVersionFromTheProgramRecord) {
  uint32_t ownMajor = 0, ownMinor = 0, buildMajor = 0, buildMinor = 1;
  ParseOwnVersion(OwnFileVersion(), ownMajor, ownMinor);
  ParseOwnVersion(LUMARO_VERSION, buildMajor, buildMinor);
  ASSERT_EQ(ownMajor, buildMajor);
  ASSERT_EQ(ownMinor, buildMinor);
  const std::string same = "tessel ver " + std::to_string(ownMajor) + "." + std::to_string(ownMinor);
  const std::string next =
      "tessel ver " + std::to_string(ownMajor) + "." + std::to_string(ownMinor + 1);
  for (auto [body, result] : {std::pair{same, UpdateResult::NoUpdate},
                              std::pair{next, UpdateResult::NewVersion}}) {
    LocalServer server(Answer(HttpResponse(body)));
    UpdateCheckRequest r = Request(server.url());
    r.useOwnVersion = true;
    EXPECT_EQ(CheckForUpdate(r).result, result) << body;
  }
  // A program without a version counts as 0.0.
  EXPECT_EQ(CheckBody("tessel ver 0.1", "").result, UpdateResult::NewVersion);
  EXPECT_EQ(CheckBody("tessel ver 0.0", "").result, UpdateResult::NoUpdate);
}

TEST_F(UpdateCheck, NothingReachedGives183) {
  const int port = testing_support::UnusedLocalPort();
  UpdateCheckOutcome o = CheckForUpdate(Request("http://127.0.0.1:" + std::to_string(port) + "/v"));
  EXPECT_EQ(o.result, UpdateResult::NoConnection);
  EXPECT_EQ(UpdateMessageId(o.result), 183);
  for (const char* url : {"", "not a url", "file:///etc/hostname", "ftp://127.0.0.1/x",
                          "http://host.invalid/tessel.ver"}) {
    EXPECT_EQ(CheckForUpdate(Request(url)).result, UpdateResult::NoConnection) << url;
  }
  // A server that takes the connection and closes it without a word.
  LocalServer mute([](int, const std::string&, const std::atomic<bool>&) {});
  EXPECT_EQ(CheckForUpdate(Request(mute.url())).result, UpdateResult::NoConnection);
}

TEST_F(UpdateCheck, SlowServersEndWithinTheTimeOut) {
  // Never answers.
  LocalServer silent([](int, const std::string&, const std::atomic<bool>& stop) {
    SleepUnlessStopped(stop, 20000);
  });
  UpdateCheckRequest r = Request(silent.url());
  r.totalTimeoutMs = 800;
  UpdateCheckOutcome o;
  double seconds = SecondsOf([&] { o = CheckForUpdate(r); });
  EXPECT_EQ(o.result, UpdateResult::NoConnection);
  EXPECT_LT(seconds, 3.0);

  // Answers the head and a piece of the body, then stalls: what arrived
  // counts.
  LocalServer stalls([](int fd, const std::string&, const std::atomic<bool>& stop) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\ntessel ver 3.");
    SleepUnlessStopped(stop, 300);
    SendAll(fd, "8");
    SleepUnlessStopped(stop, 20000);
  });
  r = Request(stalls.url());
  r.totalTimeoutMs = 1200;
  seconds = SecondsOf([&] { o = CheckForUpdate(r); });
  EXPECT_EQ(o.result, UpdateResult::NewVersion);
  EXPECT_EQ(o.minor, 8u);
  EXPECT_LT(seconds, 3.5);

  // Sends its head and then nothing: reached, but no version file.
  LocalServer headOnly([](int fd, const std::string&, const std::atomic<bool>& stop) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
    SleepUnlessStopped(stop, 20000);
  });
  r = Request(headOnly.url());
  r.totalTimeoutMs = 800;
  EXPECT_EQ(CheckForUpdate(r).result, UpdateResult::NoVersionFile);
}

TEST_F(UpdateCheck, HugeEndlessAndBinaryAnswersReadOnlyTheFirstBlock) {
  // Ten megabytes announced and sent as fast as the client takes them.
  std::atomic<size_t> sentBytes{0};
  LocalServer huge([&](int fd, const std::string&, const std::atomic<bool>& stop) {
    const size_t total = 10 * 1024 * 1024;
    std::string chunk(65536, 'x');
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(total + 15) +
                       "\r\n\r\ntessel ver 3.7\n";
    SendAll(fd, head);
    size_t sent = 0;
    while (!stop && sent < total && SendAll(fd, chunk)) sent += chunk.size();
    sentBytes = sent;
  });
  UpdateCheckOutcome o;
  double seconds = SecondsOf([&] { o = CheckForUpdate(Request(huge.url())); });
  EXPECT_EQ(o.result, UpdateResult::NewVersion);
  EXPECT_EQ(o.minor, 7u);
  EXPECT_EQ(o.answer.size(), kVersionFileReadLimit);
  EXPECT_LT(seconds, 2.5);

  // An endless answer without a length.
  LocalServer endless([](int fd, const std::string&, const std::atomic<bool>& stop) {
    SendAll(fd, "HTTP/1.0 200 OK\r\n\r\ntessel ver 3.3 ");
    std::string chunk(4096, ' ');
    while (!stop && SendAll(fd, chunk)) {
    }
  });
  seconds = SecondsOf([&] { o = CheckForUpdate(Request(endless.url())); });
  EXPECT_EQ(o.result, UpdateResult::NoUpdate);
  EXPECT_EQ(o.answer.size(), kVersionFileReadLimit);
  EXPECT_LT(seconds, 2.5);

  // Binary noise, and the marker followed by a NUL: the text ends there.
  std::mt19937 rng(7);
  std::string noise(20000, '\0');
  for (char& c : noise) c = char(rng());
  EXPECT_EQ(CheckBody(noise).result, UpdateResult::NoVersionFile);
  EXPECT_EQ(CheckBody(std::string("tessel ver\0 9.9", 15)).result, UpdateResult::NoUpdate);
  // A version placed after the first block is never seen.
  o = CheckBody("tessel ver" + std::string(kVersionFileReadLimit, ' ') + "9.9");
  EXPECT_EQ(o.result, UpdateResult::NoUpdate);
  EXPECT_EQ(o.major, 0u);
}

// A proxy that answers every request itself, so the test sees whether the
// request went through it.
TEST_F(UpdateCheck, NamedProxyIsUsedForThatCheckOnly) {
  LocalServer direct(Answer(HttpResponse("tessel ver 3.3")));
  LocalServer proxy(Answer(HttpResponse("tessel ver 7.1")));
  const std::string url = direct.url("/files/tessel.ver");
  const std::string proxyPort = std::to_string(proxy.port());

  UpdateCheckRequest r = Request(url);
  r.mode = 1;
  r.proxyHost = "127.0.0.1";
  r.proxyPort = proxyPort;
  r.user = "user";
  r.password = "secret";
  UpdateCheckOutcome o = CheckForUpdate(r);
  EXPECT_EQ(o.result, UpdateResult::NewVersion);
  EXPECT_EQ(o.major, 7u);
  EXPECT_EQ(o.minor, 1u);
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].rfind("GET " + url + " HTTP/1.1\r\n", 0), 0u) << proxy.requests()[0];
  EXPECT_NE(proxy.requests()[0].find("User-Agent: Lumaro application"), std::string::npos);
  // User name and password are not sent anywhere.
  EXPECT_EQ(proxy.requests()[0].find("Authorization"), std::string::npos);
  EXPECT_TRUE(direct.requests().empty());

  // The next check in mode 0 goes straight to the server again.
  r.mode = 0;
  o = CheckForUpdate(r);
  EXPECT_EQ(o.result, UpdateResult::NoUpdate);
  EXPECT_EQ(direct.requests().size(), 1u);
  EXPECT_EQ(proxy.requests().size(), 1u);

  // The named proxy ignores the environment's bypass list.
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  r.mode = 1;
  EXPECT_EQ(CheckForUpdate(r).major, 7u);
  EXPECT_EQ(proxy.requests().size(), 2u);

  // A named proxy that is not there: no connection.
  r.proxyPort = std::to_string(testing_support::UnusedLocalPort());
  EXPECT_EQ(CheckForUpdate(r).result, UpdateResult::NoConnection);
  r.proxyHost = "";
  r.proxyPort = "";
  EXPECT_EQ(CheckForUpdate(r).result, UpdateResult::NoConnection);
  EXPECT_EQ(ProxyText("10.0.0.1", "3128"), "10.0.0.1:3128");
}

TEST_F(UpdateCheck, ModeZeroFollowsTheEnvironment) {
  LocalServer direct(Answer(HttpResponse("tessel ver 3.3")));
  LocalServer proxy(Answer(HttpResponse("tessel ver 7.1")));
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  UpdateCheckRequest r = Request(direct.url());
  EXPECT_EQ(CheckForUpdate(r).major, 7u);
  EXPECT_EQ(proxy.requests().size(), 1u);
  setenv("no_proxy", "127.0.0.1", 1);
  EXPECT_EQ(CheckForUpdate(r).major, 3u);
  EXPECT_EQ(direct.requests().size(), 1u);
  EXPECT_EQ(proxy.requests().size(), 1u);
}

TEST(UpdateVersionText, Parsing) {
  struct Case {
    const char* text;
    bool marker;
    uint32_t major, minor;
  } cases[] = {
      {"tessel ver 3.5", true, 3, 5},
      {"tessel ver 4", true, 4, 0},
      {"tessel ver", true, 0, 0},
      {"tessel ver 3 . 10", true, 3, 10},
      {"tessel ver ..3..4..", true, 3, 4},
      {"tessel ver 3.5beta.7", true, 3, 5},
      {"tessel ver 3.x5", true, 3, 0},
      {"tessel ver -1.2", true, 0, 2},
      {"tessel ver 99999999999.4294967295", true, 4294967295u, 4294967295u},
      {"tessel ver 3tessel ver.6", true, 3, 6},
      {"tessel ver 1 2 . 3 4", true, 12, 34},
      {"tessel ver\t3.5", true, 3, 5},
      {"tessel  ver 3.5", false, 0, 0},
      {"xtessel ver 3.5", false, 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t major = 77, minor = 77;
    EXPECT_EQ(ParseVersionFile(c.text, major, minor), c.marker) << c.text;
    EXPECT_EQ(major, c.major) << c.text;
    EXPECT_EQ(minor, c.minor) << c.text;
  }

  uint32_t major = 9, minor = 9;
  ParseOwnVersion("3, 3, 0, 5", major, minor);
  EXPECT_EQ(major, 3u);
  EXPECT_EQ(minor, 3u);
  ParseOwnVersion("4.12.1.0", major, minor);
  EXPECT_EQ(major, 4u);
  EXPECT_EQ(minor, 12u);
  ParseOwnVersion(",,5,,,6", major, minor);
  EXPECT_EQ(major, 5u);
  EXPECT_EQ(minor, 6u);
  ParseOwnVersion("", major, minor);
  EXPECT_EQ(major, 0u);
  EXPECT_EQ(minor, 0u);

  EXPECT_TRUE(IsNewerVersion(3, 10, 3, 3));
  EXPECT_TRUE(IsNewerVersion(4, 0, 3, 9));
  EXPECT_FALSE(IsNewerVersion(3, 3, 3, 3));
  EXPECT_FALSE(IsNewerVersion(2, 99, 3, 0));
  EXPECT_TRUE(IsNewerVersion(4294967295u, 0, 2147483647u, 5));
}

TEST(UpdateVersionText, Messages) {
  UpdateCheckOutcome o;
  o.result = UpdateResult::NewVersion;
  o.major = 3;
  o.minor = 10;
  EXPECT_EQ(UpdateMessageId(o.result), 185);
  EXPECT_EQ(UpdateMessageText(o),
            "Обнаружена новая версия за номером 3.10. Открыть страницу программы?");
  o.major = 4294967295u;
  EXPECT_NE(UpdateMessageText(o).find("4294967295.10"), std::string::npos);
  for (auto [result, id] : {std::pair{UpdateResult::NoConnection, 183},
                            std::pair{UpdateResult::NoVersionFile, 181},
                            std::pair{UpdateResult::NoUpdate, 187}}) {
    o.result = result;
    EXPECT_EQ(UpdateMessageId(result), id);
    EXPECT_EQ(UpdateMessageText(o), LoadResString(id));
  }
  o.result = UpdateResult::NoUpdate;
  EXPECT_EQ(UpdateMessageText(o), "Обновлений не найдено");
}
