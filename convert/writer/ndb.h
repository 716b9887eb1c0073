// The node database layer of the PST writer: blocks, data trees, subnode trees,
// the node and block B-trees, the allocation maps and the file header, in
// either layout (64-bit ids and offsets, or the older 32-bit ones). The code is
// written once over format::unicode_layout and format::ansi_layout; the file's
// layout picks one instance at each public entry point.
//
// Blocks go to disk as soon as they are made; only the index entries (one per
// node and one per block) stay in memory until finish() writes the B-trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "convert/writer/block_output.h"
#include "format/layout.h"

namespace korvel::convert::ndb {

// One entry of a subnode B-tree (its nid unique within its node; bid_sub 0
// when the subnode has no subnodes of its own).
using format::subnode_entry;

// What the header records besides the B-tree roots and the maps.
struct header_info
{
    // Next free node index for each node type (the header's rgnid).
    std::uint32_t next_nid[32] = {};
    // Next unique value for the store (dwUnique).
    std::uint32_t unique = 0;
};

class file_writer
{
public:
    // Creates (truncates) the file at path. permute selects the block encoding,
    // ansi the 32-bit layout. Throws std::runtime_error when the file cannot
    // be created. threaded: encode, checksum and write on a thread of
    // its own (convert/block_output.h); the file is the same either way.
    file_writer(const std::string &path, bool permute, bool ansi = false, bool threaded = false);
    ~file_writer();
    file_writer(const file_writer &) = delete;
    file_writer &operator=(const file_writer &) = delete;

    // True for the 32-bit layout.
    bool ansi() const { return m_ansi; }
    // Largest payload of one block (8192 minus the layout's trailer).
    std::size_t block_max_data() const;

    // Writes one data block (at most block_max_data() bytes) and returns its id.
    // encode: apply the file's block encoding (external data blocks only).
    std::uint64_t write_block(std::span<const std::uint8_t> data, bool internal, bool encode);

    // Writes data of any size (below 4 GiB) as one block or a data tree.
    std::uint64_t write_data(std::span<const std::uint8_t> data);

    // Writes each element as its own data block (heap blocks, row matrix
    // blocks) and returns the id of the block or of the data tree over them.
    std::uint64_t write_block_list(const std::vector<std::vector<std::uint8_t>> &blocks);

    // Builds a data tree incrementally: append payload, then finish().
    class data_stream
    {
    public:
        explicit data_stream(file_writer &owner) : m_owner(owner) {}
        // Appends bytes; full blocks are written at once.
        void append(std::span<const std::uint8_t> data);
        // Adds one finished leaf block of the given size.
        void add_leaf(std::uint64_t bid, std::size_t size);
        // Writes the pending block and the tree blocks; returns the root id.
        std::uint64_t finish();
        // Bytes appended so far.
        std::uint64_t size() const { return m_total; }

    private:
        void flush_pending();
        void close_xblock();
        file_writer &m_owner;
        std::vector<std::uint8_t> m_pending;
        std::vector<std::uint64_t> m_leaves;
        std::uint64_t m_leaves_size = 0;
        std::vector<std::uint64_t> m_xblocks;
        std::uint64_t m_total = 0;
    };

    // Writes a subnode B-tree (SLBLOCK, or SIBLOCK over SLBLOCKs) and returns
    // its id; 0 when entries is empty.
    std::uint64_t write_subnodes(std::vector<subnode_entry> entries);

    // Records a top-level node in the node B-tree.
    void add_node(std::uint32_t nid, std::uint64_t bid_data, std::uint64_t bid_sub,
                  std::uint32_t parent);

    // Writes the B-trees, the maps and the header, and closes the file.
    void finish(const header_info &info);

    // Bytes of file written so far (the allocation end).
    std::uint64_t position() const { return m_end; }

private:
    struct block_ref
    {
        std::uint64_t bid;
        std::uint64_t ib;
        std::uint16_t cb;
    };
    struct node_ref
    {
        std::uint32_t nid;
        std::uint64_t bid_data;
        std::uint64_t bid_sub;
        std::uint32_t parent;
    };

    template <class L> std::uint64_t write_block_as(std::span<const std::uint8_t> data,
                                                    bool internal, bool encode);
    template <class L> std::uint64_t write_xblock_as(std::uint8_t level,
                                                     const std::vector<std::uint64_t> &children,
                                                     std::uint64_t total);
    template <class L> std::uint64_t write_subnodes_as(const std::vector<subnode_entry> &entries);
    template <class L> void write_map_page(const std::uint8_t *bits, std::uint8_t ptype,
                                           std::uint64_t ib);
    template <class L> std::uint64_t write_page_as(std::uint8_t *page, std::uint8_t ptype,
                                                   std::uint64_t bid, bool signed_page);
    template <class L> void finish_as(const header_info &info);
    // A data tree block over the given children (level 1: data blocks, 2: data tree blocks).
    std::uint64_t write_xblock(std::uint8_t level, const std::vector<std::uint64_t> &children,
                               std::uint64_t total);
    std::uint64_t allocate(std::uint64_t size, std::uint64_t align);
    void enter_region(std::uint64_t region);
    void close_region();
    void put(std::uint64_t ib, const std::uint8_t *data, std::size_t size);
    std::uint8_t *buffer_slot(std::uint64_t ib, std::size_t size);
    void flush_if_full();
    void put_direct(std::uint64_t ib, const std::uint8_t *data, std::size_t size);
    void flush_buffer();
    struct bref
    {
        std::uint64_t bid;
        std::uint64_t ib;
    };
    template <class L>
    bref write_btree(std::uint8_t ptype, std::vector<std::uint8_t> &entries, std::size_t entry_size,
                     std::size_t count);

    int m_fd = -1;
    bool m_permute = true;
    bool m_ansi = false;
    std::uint64_t m_next_bid = 4;
    std::uint64_t m_next_page_bid = 4;
    std::uint64_t m_end = 0;
    std::uint64_t m_region = 0;
    std::vector<std::uint8_t> m_amap;
    std::vector<std::uint8_t> m_region_free_run;
    std::uint64_t m_amap_free = 0;
    // Bytes from m_buffer_start not yet written: allocated once, never
    // zeroed as a whole (blocks are built in place).
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_buffer_size = 0;
    std::size_t m_buffer_capacity = 0;
    std::uint64_t m_buffer_start = 0;
    // With a write thread: the blocks in the buffer still to be encoded and
    // checksummed there.
    std::unique_ptr<block_output> m_output;
    std::vector<unfinished_block> m_unfinished;
    std::vector<block_ref> m_blocks;
    std::vector<node_ref> m_nodes;
    bool m_finished = false;
};

} // namespace korvel::convert::ndb
