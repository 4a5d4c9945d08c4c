#include "pg_sql.h"

#include <cctype>
#include <cstdlib>

#include "pg_rules.h"

namespace zdbd {

namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

namespace {

// The text of a quoted run starting at `i` (either quote), or of a -- comment; i moves past it.
std::string TakeQuoted(const std::string& s, size_t& i) {
  char q = s[i];
  size_t start = i++;
  while (i < s.size()) {
    if (s[i] == q) {
      if (i + 1 < s.size() && s[i + 1] == q) {
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    ++i;
  }
  return s.substr(start, i - start);
}

// The word of SQL that follows position `i` (skipping blanks), upper-cased; quoted names whole.
std::string NextWord(const std::string& s, size_t i, size_t* end) {
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  size_t start = i;
  if (i < s.size() && s[i] == '"') {
    TakeQuoted(s, i);
  } else {
    while (i < s.size() && IsWordChar(s[i])) ++i;
  }
  if (end) *end = i;
  return s.substr(start, i - start);
}

// The SQLite column types of zdbd's own tables and of field columns made before the
// PostgreSQL types were chosen.
const struct {
  const char* sqlite;
  const char* pg;
} kTypes[] = {{"INTEGER", "bigint"}, {"REAL", "double precision"}, {"BLOB", "bytea"}};

}  // namespace

PgSql TranslateForPostgres(const std::string& given) {
  PgSql out;
  size_t first = 0;
  std::string lead = Upper(NextWord(given, 0, &first));
  if (lead == "PRAGMA") {
    out.skip = true;
    return out;
  }
  std::string second = Upper(NextWord(given, first, nullptr));
  bool orIgnore = false;
  std::string in = given;
  if (lead == "REINDEX" && second != "TABLE" && second != "INDEX")
    in = "REINDEX TABLE" + in.substr(first);  // SQLite's REINDEX names a table alone
  if (lead == "INSERT" && second == "OR") {
    size_t afterOr = 0, afterWhat = 0, afterInto = 0;
    NextWord(in, first, &afterOr);
    std::string what = Upper(NextWord(in, afterOr, &afterWhat));
    NextWord(in, afterWhat, &afterInto);
    orIgnore = what == "IGNORE";
    if (!orIgnore) out.upsertInto = NextWord(in, afterInto, nullptr);
    in = "INSERT" + in.substr(afterWhat);
  }
  const bool ddl = (lead == "CREATE" && second == "TABLE") || lead == "ALTER";
  out.createTable = lead == "CREATE" && second == "TABLE";
  out.insert = lead == "INSERT";
  std::string& t = out.text;
  size_t i = 0;
  bool sawRowidColumn = false;
  int numbered = 0;  // ?NNN names its parameter; a bare ? takes the next number
  while (i < in.size()) {
    char c = in[i];
    if (c == '\'' || c == '"') {
      // Names are folded as SQLite compares them, without regard to case, so that a script
      // or psql finds table PEOPLE as people, unquoted.
      t += c == '"' ? Lower(TakeQuoted(in, i)) : TakeQuoted(in, i);
      continue;
    }
    if (c == '-' && i + 1 < in.size() && in[i + 1] == '-') {
      while (i < in.size() && in[i] != '\n') t += in[i++];
      continue;
    }
    if (c == '?') {
      size_t j = i + 1;
      while (j < in.size() && std::isdigit(static_cast<unsigned char>(in[j]))) ++j;
      int n = j > i + 1 ? std::atoi(in.substr(i + 1, j - i - 1).c_str()) : ++numbered;
      numbered = n > numbered ? n : numbered;
      out.params = numbered;
      t += "$" + std::to_string(n);
      i = j;
      continue;
    }
    if (IsWordChar(c) && (i == 0 || !IsWordChar(in[i - 1]))) {
      size_t j = i;
      while (j < in.size() && IsWordChar(in[j])) ++j;
      std::string word = in.substr(i, j - i), up = Upper(word);
      if (up == "ROWID") {
        // The record number is a column of that name, so that scripts and psql use it as in
        // SQLite.
        t += "rowid";
      } else if (up == "ZDB_ROWID" && out.createTable) {
        // A table without fields has a column of this name in SQLite; here it is the number.
        size_t k = 0;
        std::string type = Upper(NextWord(in, j, &k));
        t += "rowid bigserial PRIMARY KEY";
        if (type == "INTEGER") j = k;
        sawRowidColumn = true;
      } else {
        bool typed = false;
        if (ddl)
          for (const auto& ty : kTypes)
            if (up == ty.sqlite) {
              t += ty.pg;
              typed = true;
            }
        if (!typed) t += word;
      }
      i = j;
      continue;
    }
    t += c;
    ++i;
  }
  while (!t.empty() && (std::isspace(static_cast<unsigned char>(t.back())) || t.back() == ';'))
    t.pop_back();
  if (out.createTable && !sawRowidColumn) {
    size_t close = t.rfind(')');
    if (close != std::string::npos) {
      bool keyed = Upper(t).find("PRIMARY KEY") != std::string::npos;
      t.insert(close,
               keyed ? ", rowid bigserial UNIQUE NOT NULL" : ", rowid bigserial PRIMARY KEY");
    }
  }
  if (orIgnore) t += " ON CONFLICT DO NOTHING";
  if (out.insert && out.upsertInto.empty() && Upper(t).find("RETURNING") == std::string::npos)
    t += " RETURNING rowid";
  if (!out.upsertInto.empty()) out.insert = false;  // the engine adds its clause and RETURNING
  return out;
}

std::string PgColumnType(char type, char subtype, unsigned width, const std::string& q) {
  if (type == 'N') return "double precision";
  if (type == 'I') return kPgWholeNumber;
  if (subtype == 'B') return "bytea";
  if (subtype == 'M') return "text";
  std::string check = " CHECK (char_length(" + q + ") <= " + std::to_string(width) + ")";
  if (subtype == 'N')
    check = " CHECK (char_length(" + q + ") <= " + std::to_string(width) + " AND (" + q +
            " = '' OR " + q + " ~ '" + kPgNumberPattern + "'))";
  if (subtype == 'D')
    check = " CHECK (" + q + " = '' OR (" + q + " ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}$' AND " + q +
            "::date IS NOT NULL))";
  return "text" + check;
}

namespace {

bool GlobAt(const std::string& p, size_t pi, const std::string& t, size_t ti) {
  while (pi < p.size()) {
    char c = p[pi];
    if (c == '*') {
      for (size_t k = ti; k <= t.size(); ++k)
        if (GlobAt(p, pi + 1, t, k)) return true;
      return false;
    }
    if (ti >= t.size()) return false;
    if (c == '[') {
      size_t k = pi + 1;
      bool negate = k < p.size() && p[k] == '^';
      if (negate) ++k;
      bool hit = false;
      bool first = true;
      while (k < p.size() && (p[k] != ']' || first)) {
        first = false;
        if (k + 2 < p.size() && p[k + 1] == '-' && p[k + 2] != ']') {
          hit = hit || (t[ti] >= p[k] && t[ti] <= p[k + 2]);
          k += 3;
        } else {
          hit = hit || t[ti] == p[k];
          ++k;
        }
      }
      if (k >= p.size() || hit == negate) return false;
      pi = k + 1;
      ++ti;
      continue;
    }
    if (c != '?' && c != t[ti]) return false;
    ++pi;
    ++ti;
  }
  return ti == t.size();
}

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) {
  return GlobAt(pattern, 0, text, 0);
}

std::vector<std::string> SplitStatements(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\'' || c == '"') {
      cur += TakeQuoted(s, i);
      continue;
    }
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      while (i < s.size() && s[i] != '\n') cur += s[i++];
      continue;
    }
    if (c == '$') {
      size_t j = i + 1;
      while (j < s.size() && IsWordChar(s[j]) && !std::isdigit(static_cast<unsigned char>(s[j])))
        ++j;
      if (j < s.size() && s[j] == '$') {
        std::string tag = s.substr(i, j - i + 1);
        size_t end = s.find(tag, j + 1);
        end = end == std::string::npos ? s.size() : end + tag.size();
        cur += s.substr(i, end - i);
        i = end;
        continue;
      }
    }
    if (c == ';') {
      if (cur.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(cur);
      cur.clear();
      ++i;
      continue;
    }
    cur += c;
    ++i;
  }
  if (cur.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(cur);
  return out;
}

}  // namespace zdbd
