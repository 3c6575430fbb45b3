#pragma once
// Files with more than one name, as one row's measuring or removal meets them.
//
// A file's bytes come back when its last name goes. A cache may keep a file under two names of
// its own (a web cache's blob and its record), so removing the row frees it once; or it may share
// the file with something the row leaves alone (a package store linked into projects), so removing
// the cache's name frees nothing. The tally tells the two apart by counting the names it met of
// each such file against its link count. Only files with several names are remembered.

#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace sweepkin {

class LinkTally {
  public:
    // What meeting this name of the regular file `st` counts: its bytes (see countedSize) when it
    // has one name, or when this is the last of its names to be met; else nothing. Safe to call
    // from both of a walk's threads.
    std::int64_t meet(const struct stat& st);

  private:
    struct Key {
        dev_t dev;
        ino_t ino;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            return std::hash<ino_t>()(key.ino) ^ (std::hash<dev_t>()(key.dev) << 1);
        }
    };
    struct Names {
        nlink_t links = 0;  // the most names it was seen with
        nlink_t met = 0;
    };
    std::mutex mutex_;
    std::unordered_map<Key, Names, KeyHash> files_;
};

}  // namespace sweepkin
