// zepta_datagen OUTDIR: writes the data folder's generated files into OUTDIR.
#include <cstdio>

#include "media/datagen/datagen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zepta_datagen OUTDIR\n");
    return 2;
  }
  return datagen::generate_all(argv[1]) ? 0 : 1;
}
