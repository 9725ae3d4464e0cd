// orvane-make-archive OUT.zip|OUT.7z FILE...: packs files (under their base
// names) into an update archive, for the demo and for hand tests.
#include <fstream>
#include <iostream>
#include <sstream>

#include "sim/sample_archive.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: orvane-make-archive OUT.zip|OUT.7z FILE...\n";
    return 2;
  }
  std::vector<orvane::sim::ArchiveItem> items;
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::cerr << "orvane-make-archive: cannot read " << argv[i] << "\n";
      return 1;
    }
    std::ostringstream data;
    data << in.rdbuf();
    std::string name = argv[i];
    if (const size_t slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    items.push_back(orvane::sim::FileItem(name, data.str()));
  }
  std::string error;
  if (!orvane::sim::WriteArchive(argv[1], items, &error)) {
    std::cerr << "orvane-make-archive: " << error << "\n";
    return 1;
  }
  return 0;
}
