// Reads a mailbox back through libpff for the writer's tests: RAII handles and
// small accessors that fail the test on libpff errors.
#pragma once

#include <libpff.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The per-item entry accessors are marked deprecated in this libpff but are the
// plainest way to read one value back; the checks below depend on nothing else.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace korvel::testing::pff {

struct error_holder
{
    libpff_error_t *error = nullptr;
    ~error_holder()
    {
        if (error) {
            libpff_error_free(&error);
        }
    }
    std::string text()
    {
        char buf[2048] = {};
        if (error) {
            libpff_error_backtrace_sprint(error, buf, sizeof buf);
        }
        return buf;
    }
};

class item
{
public:
    item() = default;
    explicit item(libpff_item_t *p) : m_item(p) {}
    item(item &&o) noexcept : m_item(o.m_item) { o.m_item = nullptr; }
    item &operator=(item &&o) noexcept
    {
        std::swap(m_item, o.m_item);
        return *this;
    }
    ~item()
    {
        if (m_item) {
            libpff_item_free(&m_item, nullptr);
        }
    }
    libpff_item_t *get() const { return m_item; }
    libpff_item_t **out() { return &m_item; }
    explicit operator bool() const { return m_item != nullptr; }

    std::optional<std::string> utf8(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        size_t size = 0;
        int r =
            libpff_item_get_entry_value_utf8_string_size(m_item, set, entry, &size, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        if (r != 1) {
            return std::nullopt;
        }
        std::string s(size, '\0');
        r = libpff_item_get_entry_value_utf8_string(
            m_item, set, entry, reinterpret_cast<uint8_t *>(s.data()), size, 0, &e.error);
        EXPECT_EQ(r, 1) << e.text();
        if (!s.empty() && s.back() == '\0') {
            s.pop_back();
        }
        return s;
    }
    std::optional<std::uint32_t> u32(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        uint32_t v = 0;
        int r = libpff_item_get_entry_value_32bit(m_item, set, entry, &v, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        return r == 1 ? std::optional<std::uint32_t>(v) : std::nullopt;
    }
    std::optional<std::uint64_t> u64(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        uint64_t v = 0;
        int r = libpff_item_get_entry_value_64bit(m_item, set, entry, &v, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        return r == 1 ? std::optional<std::uint64_t>(v) : std::nullopt;
    }
    std::optional<std::uint64_t> filetime(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        uint64_t v = 0;
        int r = libpff_item_get_entry_value_filetime(m_item, set, entry, &v, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        return r == 1 ? std::optional<std::uint64_t>(v) : std::nullopt;
    }
    std::optional<bool> boolean(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        uint8_t v = 0;
        int r = libpff_item_get_entry_value_boolean(m_item, set, entry, &v, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        return r == 1 ? std::optional<bool>(v != 0) : std::nullopt;
    }
    std::optional<double> floating(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        double v = 0;
        int r = libpff_item_get_entry_value_floating_point(m_item, set, entry, &v, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        return r == 1 ? std::optional<double>(v) : std::nullopt;
    }
    // Raw stored value (type and bytes) of any entry.
    std::optional<std::vector<std::uint8_t>> raw(std::uint32_t entry, std::uint32_t type,
                                                 int set = 0) const
    {
        error_holder e;
        uint32_t value_type = type;
        uint8_t *data = nullptr;
        size_t size = 0;
        int r =
            libpff_item_get_entry_value(m_item, set, entry, &value_type, &data, &size, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        if (r != 1) {
            return std::nullopt;
        }
        return std::vector<std::uint8_t>(data, data + size);
    }
    std::optional<std::vector<std::uint8_t>> binary(std::uint32_t entry, int set = 0) const
    {
        error_holder e;
        size_t size = 0;
        int r =
            libpff_item_get_entry_value_binary_data_size(m_item, set, entry, &size, 0, &e.error);
        EXPECT_NE(r, -1) << e.text();
        if (r != 1) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> v(size);
        r = libpff_item_get_entry_value_binary_data(m_item, set, entry, v.data(), size, 0,
                                                    &e.error);
        EXPECT_EQ(r, 1) << e.text();
        return v;
    }
    int sets() const
    {
        error_holder e;
        uint32_t n = 0;
        EXPECT_EQ(libpff_item_get_number_of_sets(m_item, &n, &e.error), 1) << e.text();
        return static_cast<int>(n);
    }
    std::optional<std::string> folder_name() const
    {
        error_holder e;
        size_t size = 0;
        int r = libpff_folder_get_utf8_name_size(m_item, &size, &e.error);
        EXPECT_NE(r, -1) << e.text();
        if (r != 1) {
            return std::nullopt;
        }
        std::string s(size, '\0');
        EXPECT_EQ(libpff_folder_get_utf8_name(m_item, reinterpret_cast<uint8_t *>(s.data()), size,
                                              &e.error),
                  1)
            << e.text();
        if (!s.empty() && s.back() == '\0') {
            s.pop_back();
        }
        return s;
    }
    int sub_folder_count() const
    {
        error_holder e;
        int n = -1;
        EXPECT_EQ(libpff_folder_get_number_of_sub_folders(m_item, &n, &e.error), 1) << e.text();
        return n;
    }
    item sub_folder(int i) const
    {
        error_holder e;
        item out;
        EXPECT_EQ(libpff_folder_get_sub_folder(m_item, i, out.out(), &e.error), 1) << e.text();
        return out;
    }
    int message_count() const
    {
        error_holder e;
        int n = -1;
        EXPECT_EQ(libpff_folder_get_number_of_sub_messages(m_item, &n, &e.error), 1) << e.text();
        return n;
    }
    item message(int i) const
    {
        error_holder e;
        item out;
        EXPECT_EQ(libpff_folder_get_sub_message(m_item, i, out.out(), &e.error), 1) << e.text();
        return out;
    }
    int associated_count() const
    {
        error_holder e;
        int n = -1;
        EXPECT_EQ(libpff_folder_get_number_of_sub_associated_contents(m_item, &n, &e.error), 1)
            << e.text();
        return n;
    }
    // A sub-folder by display name, empty when absent.
    item find_folder(const std::string &name) const
    {
        for (int i = 0; i < sub_folder_count(); ++i) {
            item f = sub_folder(i);
            if (f.folder_name() == name) {
                return f;
            }
        }
        return {};
    }

private:
    libpff_item_t *m_item = nullptr;
};

class file
{
public:
    explicit file(const std::string &path)
    {
        error_holder e;
        EXPECT_EQ(libpff_file_initialize(&m_file, &e.error), 1) << e.text();
        opened = libpff_file_open(m_file, path.c_str(), LIBPFF_OPEN_READ, &e.error) == 1;
        EXPECT_TRUE(opened) << e.text();
    }
    ~file()
    {
        if (m_file) {
            if (opened) {
                libpff_file_close(m_file, nullptr);
            }
            libpff_file_free(&m_file, nullptr);
        }
    }
    file(const file &) = delete;
    file &operator=(const file &) = delete;
    item root() const
    {
        error_holder e;
        item out;
        EXPECT_EQ(libpff_file_get_root_folder(m_file, out.out(), &e.error), 1) << e.text();
        return out;
    }
    item store() const
    {
        error_holder e;
        item out;
        EXPECT_EQ(libpff_file_get_message_store(m_file, out.out(), &e.error), 1) << e.text();
        return out;
    }
    int orphans() const
    {
        error_holder e;
        int n = -1;
        EXPECT_EQ(libpff_file_get_number_of_orphan_items(m_file, &n, &e.error), 1) << e.text();
        return n;
    }
    libpff_file_t *get() const { return m_file; }
    bool opened = false;

private:
    libpff_file_t *m_file = nullptr;
};

} // namespace korvel::testing::pff

#pragma GCC diagnostic pop
