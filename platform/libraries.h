// Loading optional libraries (FFmpeg, Assimp) at run time: what video.cpp and
// model.cpp share. Nothing outside platform/ includes it.
#pragma once

#include <dlfcn.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/scene/scene.h"

namespace platform {

// dlopen of a library by soname (found through the program's RPATH first);
// null with dlerror's text in error when it is not there.
void* open_library(const char* soname, std::string& error);
// Tests: open_library behaves as if the library soname were not installed.
void refuse_library_for_testing(const char* soname);

// The function name of library handle into f; false when it is missing.
template <typename F>
bool resolve(void* handle, const char* name, F& f) {
  f = reinterpret_cast<F>(dlsym(handle, name));
  return f != nullptr;
}

// model.cpp: a model's bytes as load_model reads a file's (text ".x" through
// the own reader, the rest through the model library as if read from path,
// its companions looked up beside it); the fuzz target's way in.
bool load_model_from_memory(std::string_view bytes, std::string_view path, std::vector<scene::Vertex>& out,
                            std::string& error);
struct ModelTree;
// The same as a tree, as load_model_tree reads a file.
bool load_model_tree_from_memory(std::string_view bytes, std::string_view path, ModelTree& out, std::string& error);

}  // namespace platform
