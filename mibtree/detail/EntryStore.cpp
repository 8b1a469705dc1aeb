// Ordered chunked storage of MIB entries.
#include "mibtree/detail/EntryStore.h"

#include <algorithm>
#include <iterator>

namespace mibtree::detail {

EntryStore::Position EntryStore::Bound(KeySpan key, bool after) const {
  const auto before = [&](const MibEntry& entry) {
    const int order = CompareKeys(entry.Key(), key);
    return after ? order <= 0 : order < 0;
  };
  // Chunks in order by their last entries, then the entries of the first
  // chunk that does not lie wholly before the bound.
  const auto chunk = std::partition_point(
      chunks_.begin(), chunks_.end(), [&](const Chunk& entries) { return before(entries.back()); });
  if (chunk == chunks_.end()) return End();
  const auto slot = std::partition_point(chunk->begin(), chunk->end(), before);
  return Position{static_cast<size_t>(chunk - chunks_.begin()),
                  static_cast<size_t>(slot - chunk->begin())};
}

EntryStore::Position EntryStore::Find(KeySpan key) const {
  const Position at = LowerBound(key);
  return !IsEnd(at) && CompareKeys(At(at).Key(), key) == 0 ? at : End();
}

EntryStore::Position EntryStore::Insert(Position at, KeySpan key) {
  ++generation_;
  const Position placed = Place(at, key);
  ++size_;
  return placed;
}

EntryStore::Position EntryStore::Place(Position at, KeySpan key) {
  if (chunks_.empty()) {
    chunks_.push_back(NewChunk());
    chunks_.back().emplace_back(key);
    return Position{0, 0};
  }
  // The place before the first entry of a chunk is also the place after the
  // last entry of the chunk before: a run of appends fills that one, and
  // once it is full, goes on in a new chunk rather than pushing the entries
  // of the next chunk along one by one.
  if (at.slot == 0 && at.chunk > 0) {
    if (chunks_[at.chunk - 1].size() < kChunkEntries) {
      at = Position{at.chunk - 1, chunks_[at.chunk - 1].size()};
    } else if (IsEnd(at) || chunks_[at.chunk].size() > kChunkEntries / 8) {
      chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(at.chunk), NewChunk())
          ->emplace_back(key);
      return at;
    }
  }
  Chunk& chunk = chunks_[at.chunk];
  const auto slot = chunk.begin() + static_cast<std::ptrdiff_t>(at.slot);
  if (chunk.size() < kChunkEntries) {
    chunk.emplace(slot, key);
    return at;
  }
  // A full chunk gets a new neighbour.  In the middle it is cut at the place
  // of the new entry, which then ends the first part: a column that grows at
  // its end keeps growing in a chunk of its own.
  if (at.slot == 0 || at.slot == chunk.size()) {
    const size_t place = at.slot == 0 ? at.chunk : at.chunk + 1;
    chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(place), NewChunk())
        ->emplace_back(key);
    return Position{place, 0};
  }
  Chunk rest = NewChunk();
  rest.insert(rest.end(), std::make_move_iterator(slot), std::make_move_iterator(chunk.end()));
  chunk.erase(slot, chunk.end());
  chunk.emplace_back(key);
  chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(at.chunk + 1), std::move(rest));
  return at;
}

void EntryStore::Erase(Position first, Position last) {
  if (first.chunk == last.chunk && first.slot >= last.slot) return;
  ++generation_;
  const size_t end_chunk = std::min(last.chunk, chunks_.size());
  for (size_t c = first.chunk; c <= end_chunk && c < chunks_.size(); ++c) {
    Chunk& chunk = chunks_[c];
    const size_t from = c == first.chunk ? first.slot : 0;
    const size_t to = c == last.chunk ? last.slot : chunk.size();
    size_ -= to - from;
    chunk.erase(chunk.begin() + static_cast<std::ptrdiff_t>(from),
                chunk.begin() + static_cast<std::ptrdiff_t>(to));
  }
  const auto range_end =
      chunks_.begin() + static_cast<std::ptrdiff_t>(std::min(end_chunk + 1, chunks_.size()));
  const auto emptied =
      std::stable_partition(chunks_.begin() + static_cast<std::ptrdiff_t>(first.chunk), range_end,
                            [](const Chunk& chunk) { return !chunk.empty(); });
  std::move(emptied, range_end, std::back_inserter(spare_));
  chunks_.erase(emptied, range_end);
}

void EntryStore::Clear() {
  ++generation_;
  for (Chunk& chunk : chunks_) {
    chunk.clear();
    spare_.push_back(std::move(chunk));
  }
  chunks_.clear();
  size_ = 0;
}

EntryStore::Chunk EntryStore::NewChunk() {
  if (spare_.empty()) {
    Chunk chunk;
    chunk.reserve(kChunkEntries);
    return chunk;
  }
  Chunk chunk = std::move(spare_.back());
  spare_.pop_back();
  return chunk;
}

}  // namespace mibtree::detail
