// Drives a mail sink over a whole mailbox for the sink tests: the folders from
// the root folder's sub-folders down, each folder's messages in order, then
// its sub-folders (the order the save walk uses).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/save/mailbox_sink.h"
#include "tests/convert/pff_read.h"

namespace korvel::testing {

struct sink_walk_counts
{
    int written = 0;
    int left_out = 0;
    int failed = 0;
    // The failed calls' error.message and the sink's problem lines.
    std::vector<std::string> notes;
};

inline void sink_walk_folder(const pff::item &folder, std::vector<std::string> path,
                             convert::mailbox_sink &sink, sink_walk_counts &counts)
{
    convert::sink_folder f;
    f.path = path;
    f.folder = folder.get();
    convert::sink_error error;
    ASSERT_EQ(sink.begin_folder(f, error), 1) << error.message;
    for (int i = 0; i < folder.message_count(); ++i) {
        pff::item m = folder.message(i);
        convert::sink_error e;
        int r = sink.add_message(m.get(), false, e);
        if (!e.message.empty()) {
            counts.notes.push_back(e.message);
        }
        for (const std::string &line : sink.take_problems()) {
            counts.notes.push_back(line);
        }
        ASSERT_FALSE(r == -1 && e.fatal) << e.message;
        (r == 1 ? counts.written : r == 0 ? counts.left_out : counts.failed)++;
    }
    for (int i = 0; i < folder.sub_folder_count(); ++i) {
        pff::item sub = folder.sub_folder(i);
        std::vector<std::string> sub_path = path;
        sub_path.push_back(sub.folder_name().value_or(""));
        sink_walk_folder(sub, sub_path, sink, counts);
    }
    ASSERT_EQ(sink.end_folder(error), 1) << error.message;
}

// Converts the mailbox at pst into out (which must not exist) through sink.
inline sink_walk_counts sink_walk(const std::string &pst, convert::mailbox_sink &sink,
                                  const std::string &out)
{
    sink_walk_counts counts;
    pff::file file(pst);
    convert::sink_error error;
    EXPECT_EQ(sink.open(out, error), 1) << error.message;
    pff::item root = file.root();
    for (int i = 0; i < root.sub_folder_count(); ++i) {
        pff::item sub = root.sub_folder(i);
        sink_walk_folder(sub, {sub.folder_name().value_or("")}, sink, counts);
    }
    EXPECT_EQ(sink.close(error), 1) << error.message;
    return counts;
}

} // namespace korvel::testing
