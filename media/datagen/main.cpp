// zepta_datagen OUTDIR: writes the data folder's generated files into OUTDIR.
// When OUTDIR is a working folder's "data" folder, the default resources of
// the sibling resource folders are made too.
#include <cstdio>
#include <string>

#include "media/datagen/datagen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zepta_datagen OUTDIR\n");
    return 2;
  }
  std::string out = argv[1];
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  bool ok = datagen::generate_all(out) && datagen::generate_models(out);
  std::size_t slash = out.rfind('/');
  std::string base = slash == std::string::npos ? out : out.substr(slash + 1);
  if (base == "data") ok = datagen::generate_resources(slash == std::string::npos ? "." : out.substr(0, slash + 1)) && ok;
  return ok ? 0 : 1;
}
