// Writes the library's type information as an IDL text: vc-idlgen OUTPUT
// Run by the build, so the installed IDL always matches the library.

#include "TypeInfo.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vc-idlgen OUTPUT\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << tavik::idlText(tavik::typeLibrary());
    out.close();
    if (!out) {
        std::cerr << "vc-idlgen: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
