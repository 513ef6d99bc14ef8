// Reads each file named on the command line as the control reads a load document and prints
// one line per file: "1 PATH" when it loads, "0 PATH" when it is refused. For comparing the
// reader with other XML parsers over many documents (scripts/xml-conformance).

#include "platform/XmlDocument.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    tavik::platform::XmlDocument document;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::cout << (document.loadXml(std::move(text)) ? '1' : '0') << ' ' << argv[i] << '\n';
    }
}
