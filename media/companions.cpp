// The files a glTF or ".obj" model names beside itself: a small JSON walker
// that keeps only the buffers' and images' uris, and the name lines of ".obj"
// and ".mtl" text. Files are untrusted: nesting, lengths and counts are bounded.
#include <cstring>

#include "media/media.h"

namespace media {

namespace {

// A JSON cursor: the first fault stops everything.
struct Json {
  std::string_view text;
  std::size_t at = 0;
  GltfStatus status = GltfStatus::ok;

  void fail(GltfStatus s) {
    if (status == GltfStatus::ok) status = s;
    at = text.size();
  }
  void blanks() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) ++at;
  }
  bool take(char c) {
    blanks();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  char peek() {
    blanks();
    return at < text.size() ? text[at] : '\0';
  }
};

void put_utf8(std::string& out, unsigned c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6), out += static_cast<char>(0x80 | (c & 63));
  } else {
    out += static_cast<char>(0xE0 | c >> 12), out += static_cast<char>(0x80 | (c >> 6 & 63)),
        out += static_cast<char>(0x80 | (c & 63));
  }
}

std::string string_value(Json& j) {
  std::string out;
  if (!j.take('"')) {
    j.fail(GltfStatus::bad_json);
    return out;
  }
  while (j.at < j.text.size()) {
    char c = j.text[j.at++];
    if (c == '"') return out;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (j.at >= j.text.size()) break;
    char e = j.text[j.at++];
    static constexpr char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
    if (const char* p = std::strchr(kFrom, e); p && e) {
      out += kTo[p - kFrom];
    } else if (e == 'u' && j.at + 4 <= j.text.size()) {
      unsigned code = 0;
      for (int k = 0; k < 4; ++k) {
        char h = j.text[j.at++];
        int d = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
        if (d < 0) {
          j.fail(GltfStatus::bad_json);
          return out;
        }
        code = code << 4 | static_cast<unsigned>(d);
      }
      put_utf8(out, code);
    } else {
      break;
    }
  }
  j.fail(GltfStatus::bad_json);
  return out;
}

// A number as a whole count (fractions and signs give 0; larger ones are capped).
uint64_t count_value(Json& j) {
  j.blanks();
  std::size_t start = j.at;
  uint64_t v = 0;
  bool whole = true;
  while (j.at < j.text.size() && std::strchr("+-0123456789.eE", j.text[j.at]) && j.text[j.at]) {
    char c = j.text[j.at++];
    if (c >= '0' && c <= '9') v = v > (uint64_t{1} << 60) ? v : v * 10 + static_cast<uint64_t>(c - '0');
    else whole = false;
  }
  if (j.at == start) j.fail(GltfStatus::bad_json);
  return whole ? v : 0;
}

void skip_value(Json& j, int depth);

// An object's members, each handed to member(key) with the cursor on its value,
// which member must read (or skip).
template <class F>
void object(Json& j, int depth, F member) {
  if (depth > kMaxGltfDepth) return j.fail(GltfStatus::too_deep);
  if (!j.take('{')) return j.fail(GltfStatus::bad_json);
  if (j.take('}')) return;
  do {
    std::string key = string_value(j);
    if (!j.take(':')) return j.fail(GltfStatus::bad_json);
    member(key);
  } while (j.status == GltfStatus::ok && j.take(','));
  if (!j.take('}')) j.fail(GltfStatus::bad_json);
}

template <class F>
void array(Json& j, int depth, F element) {
  if (depth > kMaxGltfDepth) return j.fail(GltfStatus::too_deep);
  if (!j.take('[')) return j.fail(GltfStatus::bad_json);
  if (j.take(']')) return;
  do element();
  while (j.status == GltfStatus::ok && j.take(','));
  if (!j.take(']')) j.fail(GltfStatus::bad_json);
}

void skip_value(Json& j, int depth) {
  char c = j.peek();
  if (c == '{') {
    object(j, depth + 1, [&](const std::string&) { skip_value(j, depth + 1); });
  } else if (c == '[') {
    array(j, depth + 1, [&] { skip_value(j, depth + 1); });
  } else if (c == '"') {
    string_value(j);
  } else if (c == 't' || c == 'f' || c == 'n') {
    for (const char* word : {"true", "false", "null"})
      if (j.text.substr(j.at, std::strlen(word)) == word) {
        j.at += std::strlen(word);
        return;
      }
    j.fail(GltfStatus::bad_json);
  } else {
    count_value(j);
  }
}

uint32_t le32(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(b[at + 3]) << 24;
}

// The words of one line after its keyword.
std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    if (at > start) out.push_back(line.substr(start, at - start));
  }
  return out;
}

// Each line of text (CR and LF ends), handed to line().
template <class F>
void lines(std::string_view text, F line) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    line(text.substr(at, end - at));
    at = end + 1;
  }
}

}  // namespace

const char* gltf_status_text(GltfStatus status) {
  switch (status) {
    case GltfStatus::ok: return "ok";
    case GltfStatus::not_gltf: return "not a glTF file";
    case GltfStatus::bad_json: return "damaged glTF JSON";
    case GltfStatus::too_deep: return "glTF JSON nested too deep";
  }
  return "?";
}

GltfStatus read_gltf_files(std::span<const uint8_t> file, GltfFiles& out) {
  out = {};
  std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
  bool binary = text.substr(0, 4) == "glTF";
  if (binary) {
    // A 12-byte header, then the JSON chunk: its length, "JSON", the text.
    if (file.size() < 20 || text.substr(16, 4) != "JSON" || le32(file, 12) > file.size() - 20)
      return GltfStatus::bad_json;
    text = text.substr(20, le32(file, 12));
  }
  Json j{text};
  if (j.peek() != '{') return GltfStatus::not_gltf;
  object(j, 1, [&](const std::string& key) {
    if (key == "buffers") {
      array(j, 2, [&] {
        GltfBuffer b;
        object(j, 3, [&](const std::string& k) {
          if (k == "uri" && j.peek() == '"') b.uri = string_value(j);
          else if (k == "byteLength") b.byte_length = count_value(j);
          else skip_value(j, 3);
        });
        if (out.buffers.size() < static_cast<std::size_t>(kMaxModelCompanions)) out.buffers.push_back(std::move(b));
      });
    } else if (key == "images") {
      array(j, 2, [&] {
        object(j, 3, [&](const std::string& k) {
          if (k == "uri" && j.peek() == '"') {
            std::string uri = string_value(j);
            if (out.images.size() < static_cast<std::size_t>(kMaxModelCompanions)) out.images.push_back(std::move(uri));
          } else {
            skip_value(j, 3);
          }
        });
      });
    } else {
      skip_value(j, 1);
    }
  });
  if (j.status != GltfStatus::ok) out = {};
  return j.status;
}

std::vector<std::string> obj_material_libraries(std::string_view text) {
  std::vector<std::string> out;
  lines(text, [&](std::string_view line) {
    std::vector<std::string_view> w = words(line);
    if (w.size() < 2 || w[0] != "mtllib") return;
    for (std::size_t i = 1; i < w.size() && out.size() < static_cast<std::size_t>(kMaxModelCompanions); ++i)
      out.emplace_back(w[i]);
  });
  return out;
}

std::vector<std::string> mtl_texture_names(std::string_view text) {
  std::vector<std::string> out;
  lines(text, [&](std::string_view line) {
    std::vector<std::string_view> w = words(line);
    if (w.size() < 2 || out.size() >= static_cast<std::size_t>(kMaxModelCompanions)) return;
    std::string_view key = w[0];
    if (key.substr(0, 4) == "map_" || key == "bump" || key == "disp" || key == "refl" || key == "decal") {
      std::string name(w.back());  // options ("-s 1 1 1") come first
      for (const std::string& seen : out)
        if (seen == name) return;
      out.push_back(std::move(name));
    }
  });
  return out;
}

CompanionPlace companion_place(std::string_view name) {
  if (name.size() >= 5 && (name.substr(0, 5) == "data:" || name.substr(0, 5) == "DATA:")) return CompanionPlace::data;
  if (name.empty() || name.front() == '/' || name.front() == '\\' || name.find(':') != std::string_view::npos)
    return CompanionPlace::absolute;
  std::size_t at = 0;
  while (at <= name.size()) {
    std::size_t end = std::min(name.find_first_of("/\\", at), name.size());
    if (name.substr(at, end - at) == "..") return CompanionPlace::climbs_out;
    at = end + 1;
  }
  return CompanionPlace::beside;
}

}  // namespace media
