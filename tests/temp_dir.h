// A fresh folder under /tmp for one test, removed afterwards.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/tl_test_XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name, const std::string& body) const {
    std::string p = path + "/" + name;
    std::ofstream(p, std::ios::binary) << body;
    return p;
  }
};
