// Brains for tests, held in memory: brain text from its lines, and brain files
// that the compiler reads from memory instead of the file system.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "brain/brain.h"

namespace brain_test {

// A brain file's text: the lines, each ended by CR LF.
inline std::string lines(std::initializer_list<std::string_view> l) {
  std::string text;
  for (std::string_view s : l) text += std::string(s) + "\r\n";
  return text;
}

// Brain files by path, served to compile_project().
class MemoryBrains {
 public:
  // Element i's brain file "brains/<i>.brn" holds texts[i]; one source per
  // text, all named element_name (which must outlive the sources).
  std::vector<brain::BrainSource> sources(const std::vector<std::string>& texts, std::string_view element_name) {
    std::vector<brain::BrainSource> out;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      auto at = files_.insert_or_assign("brains/" + std::to_string(i) + ".brn", texts[i]).first;
      out.push_back({element_name, at->first});  // map keys stay put
    }
    return out;
  }
  // The compiler of options reads these files; a path not held is not found.
  void serve(brain::CompileOptions& options) {
    options.read = read;
    options.read_context = this;
  }
  void clear() { files_.clear(); }

 private:
  static bool read(void* self, std::string_view path, std::string& bytes) {
    auto& files = static_cast<MemoryBrains*>(self)->files_;
    auto it = files.find(path);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }
  std::map<std::string, std::string, std::less<>> files_;
};

}  // namespace brain_test
