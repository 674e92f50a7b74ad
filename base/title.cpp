// Patching the title region of a program image.
#include "base/title.h"

namespace base {

namespace {

// "ZEPTA-TITLE-REGION:" with each byte XOR kMask.
constexpr unsigned char kMask = 0x5A;
constexpr unsigned char kMasked[kTitleMarkerBytes] = {
    'Z' ^ kMask, 'E' ^ kMask, 'P' ^ kMask, 'T' ^ kMask, 'A' ^ kMask, '-' ^ kMask, 'T' ^ kMask,
    'I' ^ kMask, 'T' ^ kMask, 'L' ^ kMask, 'E' ^ kMask, '-' ^ kMask, 'R' ^ kMask, 'E' ^ kMask,
    'G' ^ kMask, 'I' ^ kMask, 'O' ^ kMask, 'N' ^ kMask, ':' ^ kMask};
const volatile unsigned char* masked_bytes = kMasked;  // read at run time: never folded back into text

// Offset of the title bytes, or npos with error set.
std::size_t find_region(std::string_view image, std::string& error) {
  std::string marker = title_marker();
  std::size_t at = image.find(marker);
  if (at == std::string_view::npos) {
    error = "the program has no title region";
    return at;
  }
  if (image.find(marker, at + 1) != std::string_view::npos) {
    error = "the program has more than one title region";
    return std::string_view::npos;
  }
  at += marker.size();
  if (image.size() - at < kTitleBytes) {
    error = "the program's title region is cut short";
    return std::string_view::npos;
  }
  return at;
}

}  // namespace

std::string title_marker() {
  std::string marker(kTitleMarkerBytes, '\0');
  for (std::size_t i = 0; i < kTitleMarkerBytes; ++i) marker[i] = static_cast<char>(masked_bytes[i] ^ kMask);
  return marker;
}

bool patch_title(std::string& image, std::string_view title, std::string& error) {
  std::size_t at = find_region(image, error);
  if (at == std::string_view::npos) return false;
  std::string padded(title.substr(0, kTitleBytes));
  padded.resize(kTitleBytes, ' ');
  image.replace(at, kTitleBytes, padded);
  return true;
}

bool read_title(std::string_view image, std::string& title, std::string& error) {
  std::size_t at = find_region(image, error);
  if (at == std::string_view::npos) return false;
  title = image.substr(at, kTitleBytes);
  return true;
}

}  // namespace base
