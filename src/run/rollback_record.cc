#include "run/rollback_record.h"

#include <algorithm>
#include <charconv>

namespace syncstatus {

namespace {

constexpr std::string_view kMagic = "syncstatus rollback record 1\n";
constexpr std::string_view kEnd = "end\n";
constexpr char kHex[] = "0123456789abcdef";

void put_number(std::string& out, std::string_view name, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out += name;
  out += ' ';
  out.append(digits, end);
  out += '\n';
}

// Takes "NAME VALUE\n" off the front of `in`.
bool take_field(std::string_view& in, std::string_view name, std::string_view& value) {
  if (!in.starts_with(name) || in.size() <= name.size() || in[name.size()] != ' ') return false;
  in.remove_prefix(name.size() + 1);
  const std::size_t end = in.find('\n');
  if (end == std::string_view::npos) return false;
  value = in.substr(0, end);
  in.remove_prefix(end + 1);
  return true;
}

bool take_number(std::string_view& in, std::string_view name, std::uint64_t& value) {
  std::string_view text;
  if (!take_field(in, name, text) || text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string encode_rollback(const RollbackData& data) {
  std::string out;
  encode_rollback(data, out);
  return out;
}

void encode_rollback(const RollbackData& data, std::string& out) {
  out.assign(kMagic);
  put_number(out, "device", data.device);
  put_number(out, "file", data.file);
  put_number(out, "born", data.born);
  put_number(out, "size", data.size);
  out += "tail ";
  for (const char c : data.tail) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  out += '\n';
  out += kEnd;
}

std::optional<RollbackData> decode_rollback(std::string_view in) {
  if (!in.starts_with(kMagic)) return std::nullopt;
  in.remove_prefix(kMagic.size());
  RollbackData data;
  std::string_view tail;
  if (!take_number(in, "device", data.device) || !take_number(in, "file", data.file) ||
      !take_number(in, "born", data.born) || !take_number(in, "size", data.size)) {
    return std::nullopt;
  }
  // An empty tail leaves "tail \n", which take_field cannot tell from a
  // missing value; it is taken by hand.
  if (in.starts_with("tail \n")) {
    in.remove_prefix(6);
  } else if (!take_field(in, "tail", tail)) {
    return std::nullopt;
  }
  if (in != kEnd || tail.size() % 2 != 0 || tail.size() / 2 > kRecordTailSize) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < tail.size(); i += 2) {
    const int high = hex_value(tail[i]);
    const int low = hex_value(tail[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    data.tail += static_cast<char>(high * 16 + low);
  }
  if (data.tail.size() != std::min<std::uint64_t>(data.size, kRecordTailSize)) return std::nullopt;
  return data;
}

bool record_fits(const RollbackData& record, const RollbackData& now, std::string_view after) {
  if (record.device != now.device || record.file != now.file || record.born != now.born ||
      now.size < record.size || record.tail != now.tail) {
    return false;
  }
  // A torn section may be shorter than its own first bytes.
  const std::uint64_t torn = now.size - record.size;
  return after.size() == std::min<std::uint64_t>(torn, kSectionStart.size()) &&
         kSectionStart.starts_with(after);
}

}  // namespace syncstatus
