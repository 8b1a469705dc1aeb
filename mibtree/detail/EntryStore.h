// The MIB tree's entries in key order, held in chunks of neighbouring entries:
// a sorted sequence cut into short vectors, with a vector of those vectors on
// top.  A table is removed and loaded again as a whole on every change, so the
// store is built for runs: a removal destroys entries lying side by side, a
// load appends each column's next cell behind its last one, and a walk reads
// memory in order.  Positions are plain numbers; any insertion or removal may
// move the entries behind them (Generation() says when that may have happened).
//
//   EntryStore store;
//   EntryStore::Position at = store.LowerBound(key.Span());
//   if (store.IsEnd(at) || CompareKeys(store.At(at).Key(), key.Span()) != 0)
//     at = store.Insert(at, key.Span());
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mibtree/detail/MibEntry.h"

namespace mibtree::detail {

class EntryStore {
 public:
  // An entry's place: its chunk and its slot in that chunk.  The end is the
  // chunk past the last.
  struct Position {
    size_t chunk = 0;
    size_t slot = 0;
    bool operator==(const Position&) const = default;
  };

  size_t Size() const { return size_; }
  // Counts insertions and removals; a position taken at one generation is
  // valid at that generation only.
  uint64_t Generation() const { return generation_; }

  Position End() const { return Position{chunks_.size(), 0}; }
  bool IsEnd(Position at) const { return at.chunk >= chunks_.size(); }
  // True when at names an entry (a position kept from an earlier generation
  // may name one that no longer exists).
  bool Holds(Position at) const {
    return at.chunk < chunks_.size() && at.slot < chunks_[at.chunk].size();
  }
  // The entry at a position that Holds().
  MibEntry& At(Position at) { return chunks_[at.chunk][at.slot]; }
  const MibEntry& At(Position at) const { return chunks_[at.chunk][at.slot]; }
  // The position after one that Holds().
  Position Next(Position at) const {
    return ++at.slot < chunks_[at.chunk].size() ? at : Position{at.chunk + 1, 0};
  }

  // The first entry whose key is not less than key / greater than key.
  Position LowerBound(KeySpan key) const { return Bound(key, false); }
  Position UpperBound(KeySpan key) const { return Bound(key, true); }
  // The entry under key, or End().
  Position Find(KeySpan key) const;

  // Creates the entry for key (NULL value) at `at`, which must be the place
  // where key belongs: after every entry before it, before the entry at it.
  // Returns the new entry's position.
  Position Insert(Position at, KeySpan key);
  // Destroys the entries from first up to, not including, last.
  void Erase(Position first, Position last);
  void Clear();

 private:
  using Chunk = std::vector<MibEntry>;
  // Long enough that the vector on top stays short (a million entries take
  // 8,000 chunks), short enough that an insertion in the middle of a chunk
  // moves a few kilobytes at most.
  static constexpr size_t kChunkEntries = 128;

  // The first entry whose key is not less than key (or, with after, greater
  // than key).
  Position Bound(KeySpan key, bool after) const;
  Position Place(Position at, KeySpan key);
  // An empty chunk with room for kChunkEntries.
  Chunk NewChunk();

  std::vector<Chunk> chunks_;  // none empty
  // Emptied chunks, kept for the next load: a table is removed just before
  // it is loaded again, and its memory serves the new rows.
  std::vector<Chunk> spare_;
  size_t size_ = 0;
  uint64_t generation_ = 0;
};

}  // namespace mibtree::detail
