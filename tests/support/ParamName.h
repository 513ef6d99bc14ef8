#pragma once

#include <ostream>

// A failing data-driven test prints its case's name instead of the parameter's bytes. Test
// files bring it into the namespace of their case types: `using tavik::test::PrintTo;`.
namespace tavik::test {

template <class Case>
    requires requires(const Case& c) { *static_cast<std::ostream*>(nullptr) << c.name; }
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

} // namespace tavik::test
