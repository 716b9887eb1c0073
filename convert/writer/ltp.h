// The lists, tables and properties layer of the PST writer: the heap on a
// node, its B-tree, property contexts and table contexts.
#pragma once

#include "convert/writer/ndb.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korvel::convert::ltp {

// Largest value kept in a heap; bigger ones get a subnode of their own.
inline constexpr std::size_t heap_max_alloc = 3580;

// The node being written: where its subnodes are collected.
struct node_context
{
    explicit node_context(ndb::file_writer &writer) : ndb(writer) {}
    // The file being written.
    ndb::file_writer &ndb;
    // Subnodes made so far for this node.
    std::vector<ndb::subnode_entry> subnodes;
    // Next index for subnodes made for large values and row matrices.
    std::uint32_t next_index = 0x400;
    // A fresh subnode id of the given node type.
    std::uint32_t new_nid(std::uint32_t type) { return (next_index++ << 5) | type; }
    // Writes a value as a subnode and returns its id.
    std::uint32_t store_subnode(std::span<const std::uint8_t> data);
};

class heap_writer
{
public:
    // block_limit: the file's largest block payload.
    heap_writer(std::uint8_t client_signature, std::size_t block_limit)
        : m_client_signature(client_signature), m_block_limit(block_limit)
    {
    }
    // Allocates a copy of data (at most heap_max_alloc bytes) and returns its id.
    std::uint32_t allocate(std::span<const std::uint8_t> data);
    // Replaces the bytes of an earlier allocation (same size).
    void overwrite(std::uint32_t hid, std::span<const std::uint8_t> data);
    // Sets the id the heap header points at (the client's root structure).
    void set_user_root(std::uint32_t hid) { m_user_root = hid; }
    // The heap's blocks, ready to be written as the node's data.
    std::vector<std::vector<std::uint8_t>> finish() const;

private:
    struct block
    {
        std::vector<std::uint8_t> data;
        std::vector<std::uint16_t> ends;
    };
    static std::size_t header_size(std::size_t index);
    std::uint8_t m_client_signature;
    std::size_t m_block_limit;
    std::uint32_t m_user_root = 0;
    std::vector<block> m_blocks;
};

// Writes a B-tree on the heap over sorted records (key followed by data) and
// returns the id of its header. header: an 8-byte allocation made earlier for
// the header (readers expect it first in the heap), 0 to allocate one now.
std::uint32_t write_bth(heap_writer &heap, std::uint8_t key_size, std::uint8_t data_size,
                        const std::vector<std::uint8_t> &records, std::uint32_t header = 0);

// One property of a property context or one cell of a table.
struct value
{
    // Property id.
    std::uint16_t id = 0;
    // Property type.
    std::uint16_t type = 0;
    // Value in its stored form.
    std::vector<std::uint8_t> bytes;
    // Set when the value was already written as a subnode (streamed data).
    std::optional<std::uint32_t> subnode;
};

// True for the types whose value is kept inside the record itself.
bool is_inline_type(std::uint16_t type);
// Stored size of a fixed-size type in a table row, 0 for variable types.
std::size_t fixed_size(std::uint16_t type);

// Writes a property context (values sorted by id, no duplicates) as the data of
// ctx's node and returns the block id.
std::uint64_t write_pc(node_context &ctx, const std::vector<value> &values);

// One table row: its row id and its cells by column index.
struct row
{
    // Row id (for folder and message tables, the node id of the object).
    std::uint32_t row_id = 0;
    // Present cells: column index into the table's column list and value.
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> cells;
};

// Writes a table context with the given column tags (not including the row id
// and row version columns) and returns the block id of the node's data.
std::uint64_t write_tc(node_context &ctx, const std::vector<std::uint32_t> &columns,
                       const std::vector<row> &rows);

} // namespace korvel::convert::ltp
