#pragma once

#include "shell/component/Registry.h"

#include <TavikVendorComment/ComHost.h>
#include <TavikVendorComment/TavikVendorComment.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Every case gets an empty registry of its own in a scratch folder: the user's real
// registry is never touched.
class ScratchRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.isValid());
        if (const char* old = std::getenv(tavik::registry::EnvironmentVariable))
            saved = old;
        root = std::filesystem::path(scratch.path().toStdString()) / "registry";
        ::setenv(tavik::registry::EnvironmentVariable, root.c_str(), 1);
    }
    void TearDown() override {
        if (saved)
            ::setenv(tavik::registry::EnvironmentVariable, saved->c_str(), 1);
        else
            ::unsetenv(tavik::registry::EnvironmentVariable);
    }

    // Every file below the registry, as paths relative to it, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> found;
        std::error_code error;
        if (!std::filesystem::exists(root, error))
            return found;
        for (const auto& item : std::filesystem::recursive_directory_iterator(root))
            if (item.is_regular_file())
                found.push_back(std::filesystem::relative(item.path(), root).string());
        std::sort(found.begin(), found.end());
        return found;
    }

    std::string value(const std::filesystem::path& file, const std::string& key) const {
        const auto entry = tavik::registry::readEntry(file);
        if (!entry)
            return "<no entry>";
        const auto it = entry->find(key);
        return it == entry->end() ? "<no value>" : it->second;
    }

    QTemporaryDir scratch;
    std::filesystem::path root;
    std::optional<std::string> saved;
};

inline std::string libraryFile() {
    return VC_LIBRARY_FILE;
}

// Compares result codes and names them in the failure message.
#define EXPECT_HR(expected, actual)                                                                \
    EXPECT_EQ(tavik::resultText(expected), tavik::resultText(actual))
#define ASSERT_HR(expected, actual)                                                                \
    ASSERT_EQ(tavik::resultText(expected), tavik::resultText(actual))
