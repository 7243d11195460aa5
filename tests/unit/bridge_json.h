#pragma once
// A strict JSON reader for the bridge tests: what the page's JSON.parse
// accepts, it accepts; anything else makes Parse return false. Only used to
// check texts the native side hands to the page.
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bridgetest {

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool b = false;
  double n = 0;
  std::string s;
  std::vector<Json> items;                    // Array
  std::vector<std::string> keys;              // Object, in text order
  std::map<std::string, Json> members;        // Object

  const Json& operator[](const std::string& key) const {
    static const Json missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
  bool Has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : t_(text) {}

  bool Parse(Json& out) {
    i_ = 0;
    Space();
    if (!Value(out, 0)) return false;
    Space();
    return i_ == t_.size();
  }

 private:
  void Space() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
  }
  bool Literal(const char* word) {
    std::string w(word);
    if (t_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool Value(Json& v, int depth) {
    if (depth > 64 || i_ >= t_.size()) return false;
    char c = t_[i_];
    if (c == '{') return Object(v, depth);
    if (c == '[') return Array(v, depth);
    if (c == '"') {
      v.kind = Json::String;
      return String(v.s);
    }
    if (c == 't') { v.kind = Json::Bool; v.b = true; return Literal("true"); }
    if (c == 'f') { v.kind = Json::Bool; v.b = false; return Literal("false"); }
    if (c == 'n') { v.kind = Json::Null; return Literal("null"); }
    return Number(v);
  }
  bool Number(Json& v) {
    size_t start = i_;
    if (i_ < t_.size() && t_[i_] == '-') ++i_;
    if (i_ >= t_.size() || !isdigit(static_cast<unsigned char>(t_[i_]))) return false;
    if (t_[i_] == '0') {
      ++i_;
    } else {
      while (i_ < t_.size() && isdigit(static_cast<unsigned char>(t_[i_]))) ++i_;
    }
    if (i_ < t_.size() && t_[i_] == '.') {
      ++i_;
      if (i_ >= t_.size() || !isdigit(static_cast<unsigned char>(t_[i_]))) return false;
      while (i_ < t_.size() && isdigit(static_cast<unsigned char>(t_[i_]))) ++i_;
    }
    if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
      ++i_;
      if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) ++i_;
      if (i_ >= t_.size() || !isdigit(static_cast<unsigned char>(t_[i_]))) return false;
      while (i_ < t_.size() && isdigit(static_cast<unsigned char>(t_[i_]))) ++i_;
    }
    v.kind = Json::Number;
    v.n = std::strtod(t_.substr(start, i_ - start).c_str(), nullptr);
    return true;
  }
  bool String(std::string& out) {
    ++i_;  // opening quote
    out.clear();
    while (i_ < t_.size()) {
      unsigned char c = static_cast<unsigned char>(t_[i_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= t_.size()) return false;
      char e = t_[i_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (i_ + 4 > t_.size()) return false;
          unsigned cp = 0;
          for (int k = 0; k < 4; ++k) {
            char h = t_[i_++];
            cp <<= 4;
            if (h >= '0' && h <= '9') cp |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f') cp |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') cp |= static_cast<unsigned>(h - 'A' + 10);
            else return false;
          }
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Array(Json& v, int depth) {
    v.kind = Json::Array;
    ++i_;
    Space();
    if (i_ < t_.size() && t_[i_] == ']') { ++i_; return true; }
    for (;;) {
      Json item;
      Space();
      if (!Value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      Space();
      if (i_ >= t_.size()) return false;
      if (t_[i_] == ',') { ++i_; continue; }
      if (t_[i_] == ']') { ++i_; return true; }
      return false;
    }
  }
  bool Object(Json& v, int depth) {
    v.kind = Json::Object;
    ++i_;
    Space();
    if (i_ < t_.size() && t_[i_] == '}') { ++i_; return true; }
    for (;;) {
      Space();
      if (i_ >= t_.size() || t_[i_] != '"') return false;
      std::string key;
      if (!String(key)) return false;
      Space();
      if (i_ >= t_.size() || t_[i_] != ':') return false;
      ++i_;
      Space();
      Json item;
      if (!Value(item, depth + 1)) return false;
      v.keys.push_back(key);
      v.members[key] = std::move(item);
      Space();
      if (i_ >= t_.size()) return false;
      if (t_[i_] == ',') { ++i_; continue; }
      if (t_[i_] == '}') { ++i_; return true; }
      return false;
    }
  }

  const std::string& t_;
  size_t i_ = 0;
};

inline bool ParseJson(const std::string& text, Json& out) { return JsonReader(text).Parse(out); }

}  // namespace bridgetest
