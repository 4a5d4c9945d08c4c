#include "zdb/admin.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "zdb/common.h"

namespace zdb::cli {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

struct Privilege {
  const char* name;
  int32_t bits;
};
constexpr Privilege kPrivileges[] = {
    {"read", 1}, {"write", 2}, {"change", 2}, {"define", 4}, {"all", 7},
};

}  // namespace

bool ParsePrivileges(const std::string& text, int32_t* bits, std::string* why) {
  *bits = 0;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    const std::string name = Lower(Trim(item));
    bool known = false;
    for (const Privilege& p : kPrivileges)
      if (name == p.name) {
        *bits |= p.bits;
        known = true;
      }
    if (!known) {
      *why = "unknown privilege '" + Trim(item) + "' (read, write, define or all)";
      return false;
    }
  }
  if (*bits == 0) {
    *why = "no privilege named (read, write, define or all)";
    return false;
  }
  return true;
}

std::vector<std::string> PrivilegeNames(int32_t bits) {
  // The single bits under their first names in the table.
  std::vector<std::string> names;
  for (int32_t bit : {1, 2, 4}) {
    if (!(bits & bit)) continue;
    for (const Privilege& p : kPrivileges)
      if (p.bits == bit) {
        names.emplace_back(p.name);
        break;
      }
  }
  return names;
}

bool CheckHostPort(const std::string& host, std::string* why) {
  const auto colon = host.find(':');
  if (colon == 0) {
    *why = "'" + host + "' names no host before the port";
    return false;
  }
  if (colon == std::string::npos) return true;
  const std::string port = host.substr(colon + 1);
  if (!AllDigits(port) || port.size() > 5 || std::atoi(port.c_str()) < 1 ||
      std::atoi(port.c_str()) > 65535) {
    *why = "the port of '" + host + "' is not a number from 1 to 65535";
    return false;
  }
  return true;
}

bool ParseFieldSpecItem(const std::string& text, FieldSpecItem* out, std::string* why) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 2 || words.size() > 4) {
    *why = "a field is NAME TYPE [SUBTYPE] [WIDTH], not '" + text + "'";
    return false;
  }
  *out = FieldSpecItem{};
  out->name = words[0];
  const std::string type = Lower(words[1]);
  if (type.size() != 1 || std::string("cni").find(type[0]) == std::string::npos) {
    *why = "the type of field " + out->name + " is C, N or I, not '" + words[1] + "'";
    return false;
  }
  out->type = static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string w = words[i];
    if (AllDigits(w) && w.size() <= 9) {
      out->width = static_cast<uint32_t>(std::atol(w.c_str()));
    } else if (w.size() == 1 && i == 2 && std::string("NDMBndmb").find(w[0]) != std::string::npos) {
      out->subtype = static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
    } else {
      *why = "field " + out->name + ": '" + w + "' is neither a subtype (N, D, M, B) nor a width";
      return false;
    }
  }
  return true;
}

std::vector<unsigned char> FieldDescriptor(const FieldSpecItem& f, const std::string& description) {
  std::vector<unsigned char> d(132, 0);
  PutText(d.data(), 0, 33, f.name);
  PutText(d.data(), 33, 66, description);
  d[99] = static_cast<unsigned char>(f.subtype ? f.subtype : ' ');
  d[100] = static_cast<unsigned char>(f.type);
  for (int i = 0; i < 4; ++i) d[101 + i] = static_cast<unsigned char>(f.width >> (8 * i));
  return d;
}

const std::vector<ConstraintKind>& ConstraintKinds() {
  static const std::vector<ConstraintKind> kinds = {
      {"required", 'M', nullptr, nullptr}, {"range", 'R', "--min", "--max"},
      {"list", 'L', "--values", nullptr},  {"pattern", 'P', "--pattern", nullptr},
      {"unique", 'U', nullptr, nullptr},
  };
  return kinds;
}

const ConstraintKind* FindConstraintKind(const std::string& nameOrLetter) {
  const std::string n = Lower(nameOrLetter);
  for (const ConstraintKind& k : ConstraintKinds())
    if (n == k.name ||
        (n.size() == 1 && std::toupper(static_cast<unsigned char>(n[0])) == k.letter))
      return &k;
  return nullptr;
}

std::string SlotText(const unsigned char* record, size_t offset, size_t width) {
  const char* p = reinterpret_cast<const char*>(record + offset);
  std::string s(p, strnlen(p, width));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

uint32_t SlotU32(const unsigned char* r, size_t o) {
  return static_cast<uint32_t>(r[o]) | static_cast<uint32_t>(r[o + 1]) << 8 |
         static_cast<uint32_t>(r[o + 2]) << 16 | static_cast<uint32_t>(r[o + 3]) << 24;
}

uint16_t SlotU16(const unsigned char* r, size_t o) {
  return static_cast<uint16_t>(r[o] | r[o + 1] << 8);
}

void PutText(unsigned char* record, size_t offset, size_t width, const std::string& text) {
  const size_t n = text.size() < width - 1 ? text.size() : width - 1;
  std::memcpy(record + offset, text.data(), n);
  record[offset + n] = 0;
}

std::string JsonNumber(int64_t v) {
  return std::to_string(v);
}
std::string JsonBool(bool v) {
  return v ? "true" : "false";
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string s = "[";
  for (size_t i = 0; i < values.size(); ++i) s += (i ? "," : "") + values[i];
  return s + "]";
}

std::string JsonStrings(const std::vector<std::string>& texts) {
  std::vector<std::string> values;
  for (const std::string& t : texts) values.push_back(JsonString(t));
  return JsonArray(values);
}

std::string JsonObject(const std::vector<JsonMember>& members) {
  std::string s = "{";
  for (size_t i = 0; i < members.size(); ++i)
    s += (i ? "," : "") + JsonString(members[i].first) + ":" + members[i].second;
  return s + "}";
}

std::string JsonList(const std::vector<std::string>& objects) {
  if (objects.empty()) return "[]\n";
  std::string s = "[\n";
  for (size_t i = 0; i < objects.size(); ++i)
    s += objects[i] + (i + 1 < objects.size() ? ",\n" : "\n");
  return s + "]\n";
}

Consent AskConsent(const std::string& question, bool yes) {
  if (yes) return Consent::kGiven;
  if (!::isatty(STDIN_FILENO)) return Consent::kNoTerminal;
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return Consent::kRefused;
  answer = Lower(Trim(answer));
  return answer == "y" || answer == "yes" ? Consent::kGiven : Consent::kRefused;
}

bool NewPassword(bool fromStdin, std::string* password) {
  const char* env = std::getenv("ZDB_NEW_PASSWORD");
  if (fromStdin || !env) {
    if (!fromStdin && ::isatty(STDIN_FILENO)) {
      *password = AskPassword("New password: ");
      if (AskPassword("Again: ") != *password) {
        Error("the two passwords differ");
        return false;
      }
    } else if (!std::getline(std::cin, *password)) {
      // A script that gives the tool its password only through $ZDB_PASSWORD, with nothing on
      // standard input, means that password for the new user too.
      const char* login = std::getenv("ZDB_PASSWORD");
      if (fromStdin || !login) {
        Error("no password on standard input");
        return false;
      }
      *password = login;
    }
    if (!password->empty() && password->back() == '\r') password->pop_back();
  } else {
    *password = env;
  }
  if (password->empty()) {
    Error("the password is empty");
    return false;
  }
  return true;
}

std::vector<MetricSample> ParseMetrics(const std::string& text, const std::string& prefix) {
  std::vector<MetricSample> samples;
  std::vector<std::pair<std::string, std::string>> helps;  // family, help
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("# HELP ", 0) == 0) {
      const std::string rest = line.substr(7);
      const auto space = rest.find(' ');
      helps.emplace_back(rest.substr(0, space),
                         space == std::string::npos ? "" : rest.substr(space + 1));
      continue;
    }
    if (line.empty() || line[0] == '#' || line.rfind(prefix, 0) != 0) continue;
    MetricSample s;
    size_t end = line.find_first_of("{ \t");
    s.name = line.substr(0, end);
    if (end != std::string::npos && line[end] == '{') {
      // Label values may hold '}' inside quotes.
      bool quoted = false;
      size_t i = end + 1;
      for (; i < line.size(); ++i) {
        if (line[i] == '\\' && quoted) {
          ++i;
        } else if (line[i] == '"') {
          quoted = !quoted;
        } else if (line[i] == '}' && !quoted) {
          break;
        }
      }
      if (i >= line.size()) continue;
      s.labels = line.substr(end, i + 1 - end);
      end = i + 1;
    }
    std::istringstream rest(end == std::string::npos ? "" : line.substr(end));
    if (!(rest >> s.value)) continue;
    for (const auto& [family, help] : helps)
      if (s.name == family || s.name.rfind(family + "_", 0) == 0) s.help = help;
    samples.push_back(s);
  }
  return samples;
}

bool HttpBody(const std::string& response, std::string* body, std::string* why) {
  const auto headEnd = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.", 0) != 0 || headEnd == std::string::npos) {
    *why = "the answer is not HTTP";
    return false;
  }
  const std::string status = response.substr(0, response.find("\r\n"));
  const auto code = status.find(' ');
  if (code == std::string::npos || status.compare(code + 1, 3, "200") != 0) {
    *why = "the server answered '" + status + "'";
    return false;
  }
  const std::string head = Lower(response.substr(0, headEnd));
  std::string raw = response.substr(headEnd + 4);
  if (head.find("\r\ntransfer-encoding: chunked") == std::string::npos) {
    *body = raw;
    return true;
  }
  body->clear();
  size_t pos = 0;
  while (pos < raw.size()) {
    const auto lineEnd = raw.find("\r\n", pos);
    if (lineEnd == std::string::npos) break;
    const size_t size = std::strtoul(raw.substr(pos, lineEnd - pos).c_str(), nullptr, 16);
    if (size == 0) return true;
    if (lineEnd + 2 + size > raw.size()) break;
    body->append(raw, lineEnd + 2, size);
    pos = lineEnd + 2 + size + 2;
  }
  *why = "the chunked answer is cut short";
  return false;
}

}  // namespace zdb::cli
