// A minimal D-Bus client for the tests, speaking the wire protocol over a
// Unix socket: one connection that stays on the bus as long as the object
// lives (which the automation server counts as a client holding it), method
// calls with string, object path, int32, Boolean and variant arguments, and
// the replies' first value. Little-endian messages only; every read is
// bounded in time.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

class DBusWriter {
 public:
  std::vector<uint8_t> bytes;

  void Align(size_t n) {
    while (bytes.size() % n) bytes.push_back(0);
  }
  void Byte(uint8_t v) { bytes.push_back(v); }
  void U32(uint32_t v) {
    Align(4);
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
  }
  void Str(const std::string& s) {
    U32(uint32_t(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
  void Sig(const std::string& s) {
    Byte(uint8_t(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
};

// One argument of a call: its signature and how it is written.
struct DBusArg {
  std::string signature;
  std::string text;      // s, o
  uint32_t number = 0;   // i, b
  std::string inner;     // v: the contained signature (b, i, s or o)

  static DBusArg String(const std::string& s) { return {"s", s, 0, ""}; }
  static DBusArg Path(const std::string& s) { return {"o", s, 0, ""}; }
  static DBusArg Int32(int32_t v) { return {"i", "", uint32_t(v), ""}; }
  static DBusArg Bool(bool v) { return {"b", "", v ? 1u : 0u, ""}; }
  static DBusArg VariantBool(bool v) { return {"v", "", v ? 1u : 0u, "b"}; }
  static DBusArg VariantInt32(int32_t v) { return {"v", "", uint32_t(v), "i"}; }
  static DBusArg VariantString(const std::string& s) { return {"v", s, 0, "s"}; }
  static DBusArg VariantPath(const std::string& s) { return {"v", s, 0, "o"}; }

  void Write(DBusWriter& w) const {
    WriteValue(w, signature == "v" ? std::string("v") : signature);
  }

 private:
  void WriteValue(DBusWriter& w, const std::string& sig) const {
    if (sig == "v") {
      w.Sig(inner);
      WriteValue(w, inner);
    } else if (sig == "s" || sig == "o") {
      w.Str(text);
    } else {
      w.U32(number);
    }
  }
};

struct DBusReply {
  bool ok = false;          // a method return arrived
  std::string errorName;    // set for an error reply
  std::string signature;    // of the body
  std::string text;         // first value when s, o, or a variant of them
  int64_t number = -1;      // first value when b, i, u, or a variant of them
};

class DBusWireClient {
 public:
  ~DBusWireClient() { Close(); }

  // address: "unix:path=..." (other keys after a comma are ignored).
  bool Connect(const std::string& address) {
    const std::string prefix = "unix:path=";
    if (address.rfind(prefix, 0) != 0) return false;
    std::string path = address.substr(prefix.size());
    path = path.substr(0, path.find(','));
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    // Authentication by the process's user id.
    std::string uid = std::to_string(getuid()), hex;
    for (char c : uid) {
      static const char digits[] = "0123456789abcdef";
      hex += digits[(c >> 4) & 0xf];
      hex += digits[c & 0xf];
    }
    std::string hello = std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n";
    if (!Send(hello.data(), hello.size())) return false;
    std::string line;
    while (line.find("\r\n") == std::string::npos) {
      char c;
      if (!Receive(&c, 1, 5000)) return false;
      line += c;
    }
    if (line.rfind("OK ", 0) != 0) return false;
    if (!Send("BEGIN\r\n", 7)) return false;
    DBusReply r = Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "Hello", {});
    uniqueName_ = r.text;
    return r.ok && !uniqueName_.empty();
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  const std::string& UniqueName() const { return uniqueName_; }

  DBusReply Call(const std::string& destination, const std::string& path, const std::string& iface,
                 const std::string& member, const std::vector<DBusArg>& args, int timeoutMs = 20000) {
    DBusReply reply;
    if (fd_ < 0) return reply;
    DBusWriter body;
    std::string signature;
    for (const DBusArg& a : args) {
      signature += a.signature;
      a.Write(body);
    }
    const uint32_t serial = ++serial_;
    DBusWriter m;
    m.Byte('l');
    m.Byte(1);  // method call
    m.Byte(0);
    m.Byte(1);
    m.U32(uint32_t(body.bytes.size()));
    m.U32(serial);
    DBusWriter fields;
    auto field = [&](uint8_t code, const std::string& sig, const std::string& value) {
      fields.Align(8);
      fields.Byte(code);
      fields.Sig(sig);
      if (sig == "g")
        fields.Sig(value);
      else
        fields.Str(value);
    };
    field(1, "o", path);
    if (!iface.empty()) field(2, "s", iface);
    field(3, "s", member);
    field(6, "s", destination);
    if (!signature.empty()) field(8, "g", signature);
    // The header fields' array: its length, then the elements from an
    // 8-byte boundary (the fixed header is 16 bytes, so they start there).
    m.U32(uint32_t(fields.bytes.size()));
    m.bytes.insert(m.bytes.end(), fields.bytes.begin(), fields.bytes.end());
    m.Align(8);
    m.bytes.insert(m.bytes.end(), body.bytes.begin(), body.bytes.end());
    if (!Send(m.bytes.data(), m.bytes.size())) return reply;

    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                         end - std::chrono::steady_clock::now())
                         .count());
      if (left <= 0) return reply;
      Message msg;
      if (!ReadMessage(msg, left)) return reply;
      if ((msg.type != 2 && msg.type != 3) || msg.replySerial != serial) continue;
      reply.signature = msg.signature;
      if (msg.type == 3) {
        reply.errorName = msg.errorName;
        return reply;
      }
      reply.ok = true;
      ParseFirst(msg.body, msg.signature, reply);
      return reply;
    }
  }

  // Properties.Get of one property.
  DBusReply Get(const std::string& destination, const std::string& path, const std::string& iface,
                const std::string& property) {
    return Call(destination, path, "org.freedesktop.DBus.Properties", "Get",
                {DBusArg::String(iface), DBusArg::String(property)});
  }
  DBusReply Set(const std::string& destination, const std::string& path, const std::string& iface,
                const std::string& property, const DBusArg& variant) {
    return Call(destination, path, "org.freedesktop.DBus.Properties", "Set",
                {DBusArg::String(iface), DBusArg::String(property), variant});
  }

 private:
  struct Message {
    uint8_t type = 0;
    uint32_t replySerial = 0;
    std::string errorName, signature;
    std::vector<uint8_t> body;
  };

  bool Send(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      p += n;
      size -= size_t(n);
    }
    return true;
  }

  bool Receive(void* data, size_t size, int timeoutMs) {
    char* p = static_cast<char*>(data);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                         end - std::chrono::steady_clock::now())
                         .count());
      if (left <= 0) return false;
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, left) <= 0) continue;
      ssize_t n = ::recv(fd_, p, size, 0);
      if (n <= 0) return false;
      p += n;
      size -= size_t(n);
    }
    return true;
  }

  static uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
  }

  bool ReadMessage(Message& msg, int timeoutMs) {
    std::vector<uint8_t> head(16);
    if (!Receive(head.data(), 16, timeoutMs)) return false;
    if (head[0] != 'l') return false;
    msg.type = head[1];
    const uint32_t bodyLength = U32At(head, 4);
    const uint32_t fieldsLength = U32At(head, 12);
    if (bodyLength > (1u << 24) || fieldsLength > (1u << 24)) return false;
    size_t headerEnd = 16 + fieldsLength;
    size_t padded = (headerEnd + 7) / 8 * 8;
    std::vector<uint8_t> rest(padded - 16 + bodyLength);
    if (!rest.empty() && !Receive(rest.data(), rest.size(), timeoutMs)) return false;
    std::vector<uint8_t> all = head;
    all.insert(all.end(), rest.begin(), rest.end());
    // Header fields: (code, variant) structs from an 8-byte boundary.
    size_t at = 16;
    while (at < headerEnd) {
      at = (at + 7) / 8 * 8;
      if (at >= headerEnd) break;
      uint8_t code = all[at++];
      uint8_t sigLength = all[at];
      std::string sig(all.begin() + long(at) + 1, all.begin() + long(at) + 1 + sigLength);
      at += 2 + sigLength;
      if (sig == "u") {
        at = (at + 3) / 4 * 4;
        if (code == 5) msg.replySerial = U32At(all, at);
        at += 4;
      } else if (sig == "g") {
        uint8_t n = all[at];
        std::string value(all.begin() + long(at) + 1, all.begin() + long(at) + 1 + n);
        if (code == 8) msg.signature = value;
        at += 2 + n;
      } else {  // s or o
        at = (at + 3) / 4 * 4;
        uint32_t n = U32At(all, at);
        std::string value(all.begin() + long(at) + 4, all.begin() + long(at) + 4 + n);
        if (code == 4) msg.errorName = value;
        at += 4 + n + 1;
      }
    }
    msg.body.assign(all.begin() + long(padded), all.end());
    return true;
  }

  // The first value of a body; offsets count from the body's start, which
  // is 8-aligned in the message.
  static void ParseFirst(const std::vector<uint8_t>& body, const std::string& signature, DBusReply& r) {
    if (signature.empty()) return;
    size_t at = 0;
    char type = signature[0];
    if (type == 'v') {
      uint8_t n = body.empty() ? 0 : body[0];
      type = n > 0 && body.size() > 1 ? char(body[1]) : '\0';
      at = 2 + n;
    }
    if (type == 's' || type == 'o') {
      at = (at + 3) / 4 * 4;
      uint32_t n = U32At(body, at);
      if (at + 4 + n <= body.size()) r.text.assign(body.begin() + long(at) + 4, body.begin() + long(at) + 4 + n);
    } else if (type == 'b' || type == 'i' || type == 'u') {
      at = (at + 3) / 4 * 4;
      r.number = type == 'i' ? int64_t(int32_t(U32At(body, at))) : int64_t(U32At(body, at));
    }
  }

  int fd_ = -1;
  uint32_t serial_ = 0;
  std::string uniqueName_;
};

}  // namespace testing_support
