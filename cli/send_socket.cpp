#include <charconv>
#include <cstdio>
#include <vector>

#include "cli/send_socket.h"

namespace vestrel::cli {
namespace {

constexpr std::size_t kMaxField = 1 << 20;

void Put(std::string& out, std::string_view field) {
  out += std::to_string(field.size());
  out += ':';
  out += field;
  out += ',';
}

// The fields of a whole message, or nothing when any is malformed.
std::optional<std::vector<std::string>> Fields(std::string_view bytes, std::size_t count) {
  std::vector<std::string> fields;
  while (!bytes.empty()) {
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), length);
    const std::size_t digits = static_cast<std::size_t>(end - bytes.data());
    if (error != std::errc() || digits == 0 || length > kMaxField || digits >= bytes.size() ||
        bytes[digits] != ':' || bytes.size() < digits + 2 + length ||
        bytes[digits + 1 + length] != ',')
      return std::nullopt;
    fields.emplace_back(bytes.substr(digits + 1, length));
    bytes.remove_prefix(digits + 2 + length);
  }
  if (fields.size() != count) return std::nullopt;
  return fields;
}

}  // namespace

std::string EncodeRequest(const SendRequest& request) {
  std::string out;
  Put(out, "send");
  Put(out, request.number);
  Put(out, request.text);
  Put(out, std::string(request.json ? "j" : "") + (request.separate ? "s" : "") +
               (request.report ? "r" : ""));
  return out;
}

std::optional<SendRequest> DecodeRequest(std::string_view bytes) {
  const auto fields = Fields(bytes, 4);
  if (!fields || (*fields)[0] != "send") return std::nullopt;
  SendRequest request{(*fields)[1], (*fields)[2]};
  for (const char flag : (*fields)[3]) {
    if (flag == 'j')
      request.json = true;
    else if (flag == 's')
      request.separate = true;
    else if (flag == 'r')
      request.report = true;
    else
      return std::nullopt;
  }
  return request;
}

std::string EncodeReply(const SendReply& reply) {
  std::string out;
  Put(out, std::to_string(reply.exit_code));
  Put(out, reply.out);
  Put(out, reply.err);
  return out;
}

std::optional<SendReply> DecodeReply(std::string_view bytes) {
  const auto fields = Fields(bytes, 3);
  if (!fields) return std::nullopt;
  SendReply reply;
  const std::string& code = (*fields)[0];
  const auto [end, error] =
      std::from_chars(code.data(), code.data() + code.size(), reply.exit_code);
  if (error != std::errc() || end != code.data() + code.size() || code.empty() ||
      reply.exit_code < 0 || reply.exit_code > 255)
    return std::nullopt;
  reply.out = (*fields)[1];
  reply.err = (*fields)[2];
  return reply;
}

std::string SocketFileName(const std::string& port_name) {
  // FNV-1a: the name may be long or hold any byte; a socket's path may not.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : port_name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  char name[32];
  std::snprintf(name, sizeof name, "watch-%016llx.sock", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace vestrel::cli
