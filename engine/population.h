// The population: every cell of one run, in the active and the sleeping
// list, and the only way to reach, change, add or remove a cell.
//
// A run reads the cell store once, cell by cell, checking each block as
// the format says and giving the application the load's reports (a store
// the program saved itself, and that says so, is read only as far as the
// reports need); then it keeps each cell as its stored text. A cell becomes a record only when
// the run reaches it (looks into its lists, its memory or its functions,
// or changes it); until then the list holds its id, type, states, life
// time and the size of its input list, which is all that lookups, the
// sleep check and the scan for a cell that can fire need. A save writes a
// reached cell in full and every other cell as the text a load and save of
// it give, so the store comes out as if every cell had been read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "engine/cell_codec.h"
#include "engine/records.h"

namespace engine {

class population;

/// What a stored cell offers before it is read, and how a save writes it.
struct stored_cell {
  std::int32_t id = 0;
  std::int32_t current_state = STATE_START;
  std::int32_t max_time = initial_max_time;
  std::int32_t input_count = 0;    // entries of its input list
  const std::string* ic_type = nullptr;  // kept by the population
  bool has_mm = false;             // the application gave it memory at load
  bool settled = false;            // `saved` is `text`, and known to be what a
                                   // load and a save of the block give
  // Both views stay valid as long as the population keeps its load: `text`
  // points into the store text it holds, `saved` into that text too or
  // into its list of rewritten blocks (see `population`).
  std::string_view text;           // its block in the store as read
  std::string_view saved;          // its block as a save writes it
};

/// One cell of a list: a record, or a stored cell not yet read.
class cell_slot {
 public:
  explicit cell_slot(ic_record cell) : record_(std::make_unique<ic_record>(std::move(cell))) {}
  explicit cell_slot(const stored_cell& stored) : stored_(stored) {}

  /// True once the cell is a record (made this run, or reached).
  bool reached() const { return record_ != nullptr; }

  std::int32_t id() const { return record_ ? record_->id : stored_.id; }
  const std::string& ic_type() const { return record_ ? record_->ic_type : *stored_.ic_type; }
  std::int32_t current_state() const {
    return record_ ? record_->current_state : stored_.current_state;
  }
  std::int32_t max_time() const { return record_ ? record_->max_time : stored_.max_time; }
  /// True when the input list holds no message.
  bool no_inputs() const { return record_ ? record_->inputs.empty() : stored_.input_count == 0; }

  /// The record of a reached cell, or none.
  ic_record* record_if_reached() const { return record_.get(); }
  /// The stored cell (only while the cell is not reached).
  const stored_cell& stored() const { return stored_; }

 private:
  friend class population;

  mutable std::unique_ptr<ic_record> record_;  // filled when the cell is reached
  stored_cell stored_;
};

/// A list of cells (the active or the sleeping list), front first. Its
/// iterators give the cells as records: stepping onto a cell costs
/// nothing, looking at it through `*` or `->` reaches it (reads it, which
/// runs the application's hook for its block). A const list gives its
/// slots instead and never reaches a cell: a const view of the population
/// runs no hook. `slot()` shows a cell without reaching it.
class cell_list {
  using slots = std::list<cell_slot>;

  template <class It, class Rec>
  class basic_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = std::remove_const_t<Rec>;
    using difference_type = std::ptrdiff_t;
    using pointer = Rec*;
    using reference = Rec&;

    basic_iterator() = default;
    basic_iterator(It it, population* owner) : it_(it), owner_(owner) {}
    /// A const iterator from a plain one.
    template <class O, class R>
    basic_iterator(const basic_iterator<O, R>& o) : it_(o.it_), owner_(o.owner_) {}

    Rec& operator*() const { return reach(*it_); }
    Rec* operator->() const { return &reach(*it_); }
    /// The cell without reaching it.
    const cell_slot& slot() const { return *it_; }

    basic_iterator& operator++() { ++it_; return *this; }
    basic_iterator operator++(int) { basic_iterator t = *this; ++it_; return t; }
    basic_iterator& operator--() { --it_; return *this; }
    basic_iterator operator--(int) { basic_iterator t = *this; --it_; return t; }
    friend bool operator==(const basic_iterator& a, const basic_iterator& b) {
      return a.it_ == b.it_;
    }

   private:
    friend class cell_list;
    template <class, class>
    friend class basic_iterator;

    // The record of the cell (a plain iterator), or its slot (a const one).
    Rec& reach(const cell_slot& s) const;

    It it_{};
    population* owner_ = nullptr;
  };

 public:
  using iterator = basic_iterator<slots::iterator, ic_record>;
  using const_iterator = basic_iterator<slots::const_iterator, const cell_slot>;
  using value_type = ic_record;

  cell_list() = default;
  cell_list(cell_list&& o) noexcept : slots_(std::move(o.slots_)) {}
  /// Takes the cells of `o`; this list keeps its owner.
  cell_list& operator=(cell_list&& o) noexcept {
    slots_ = std::move(o.slots_);
    return *this;
  }
  cell_list(const cell_list&) = delete;
  cell_list& operator=(const cell_list&) = delete;

  iterator begin() { return {slots_.begin(), owner_}; }
  iterator end() { return {slots_.end(), owner_}; }
  const_iterator begin() const { return {slots_.begin(), owner_}; }
  const_iterator end() const { return {slots_.end(), owner_}; }

  size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  void clear() { slots_.clear(); }

  ic_record& front() { return *begin(); }
  ic_record& back() { return *std::prev(end()); }
  const cell_slot& front() const { return *begin(); }
  const cell_slot& back() const { return *std::prev(end()); }

  /// Adds a record at the front or the back.
  void push_front(ic_record cell) { slots_.emplace_front(std::move(cell)); }
  void push_back(ic_record cell) { slots_.emplace_back(std::move(cell)); }
  /// Adds an empty record at the front and gives it.
  ic_record& emplace_front() {
    slots_.emplace_front(ic_record{});
    return *slots_.front().record_if_reached();
  }
  /// Adds a stored cell at the front.
  void push_front(const stored_cell& cell) { slots_.emplace_front(cell); }

  /// Moves the cell at `it` of `from` in front of `pos` (as list splice).
  void splice(iterator pos, cell_list& from, iterator it) {
    slots_.splice(pos.it_, from.slots_, it.it_);
  }

 private:
  friend class population;

  slots slots_;
  population* owner_ = nullptr;  // reaches the stored cells of a run's lists
};

/// How a run reads the cell store: each cell kept as its stored text until
/// the run reaches it, or every cell read in full at load.
enum class store_reading { lazy, full };

/// Which list `locate` searches.
enum class which_list { active, sleeping };

/// Where a cell was found: the list and its position there.
struct found_cell {
  cell_list* list = nullptr;
  cell_list::iterator at;
  ic_record* cell() const { return list ? &*at : nullptr; }
  explicit operator bool() const { return list != nullptr; }
};

/// What `population::new_cell` made.
struct new_cell_result {
  ic_record* cell = nullptr;  // none when the registration was refused or failed
  bool failed = false;        // the application could not register the cell
};

/// The cells of one run.
class population {
 public:
  /// `codec` reads and writes the cells; it outlives the population.
  explicit population(const cell_codec& codec) : codec_(codec) {
    active.owner_ = this;
    sleeping.owner_ = this;
  }
  population(const population&) = delete;
  population& operator=(const population&) = delete;

  cell_list active;    // awake cells, newest first
  cell_list sleeping;  // cells in SLEEP or DEAD, latest first
  std::int32_t next_cell_id = 1;  // counter layout: the id of the next new cell

  /// Takes the text of the whole store and puts its cells in the active
  /// list (the last cell of the text first), as `reading` says; cells are
  /// born at `clock`. In the counter layout a leading next-cell-id line
  /// sets `next_cell_id` (a store without it leaves the counter). A block
  /// that does not read as the format says throws `store_error`; the
  /// application sees every cell as the load reads it either way.
  ///
  /// `trusted`, given with the lazy reading, says that the text is exactly
  /// a store this program saved, and lists (ascending, 0 for the first
  /// block) the blocks still to be read in full: every other block is
  /// read only as far as the application's report needs (its lists are
  /// passed over) and is kept as its saved text.
  void load(std::string text, store_reading reading, std::int32_t clock,
            const std::vector<std::uint32_t>* trusted = nullptr);

  /// The record of cell `s`, read from its stored text if need be.
  ic_record& reach(const cell_slot& s);

  /// The first cell with `id` in `list`, reached; none when there is none.
  ic_record* find(cell_list& list, std::int32_t id);

  /// The first cell with `id` in the list `list`, not reached.
  found_cell locate(std::int32_t id, which_list list);

  /// The active cells that have an fg function with an input spec of
  /// `msg_type` and, unless `type_name` is "NOT_SPEC", whose IC type is
  /// `type_name`; in reverse order of the active list. A stored cell is
  /// not reached: the functions of its type answer for it.
  id_set accepting(std::int32_t msg_type, const std::string& type_name);

  /// Moves every active cell whose max. time is 0 to the front of the
  /// sleeping list, in state SLEEP.
  void sleep_expired();

  /// Moves a sleeping cell to the front of the active list, in state 0,
  /// born at `clock`.
  ic_record& wake(cell_list::iterator cell, std::int32_t clock);

  /// Gives the active cell the function's next state; SLEEP and DEAD move
  /// it to the front of the sleeping list, DEAD also drops its inputs and
  /// outputs.
  void set_next_state(const fg_function& f, cell_list::iterator cell);

  /// Makes the cell that `m` asks for at the front of the active list,
  /// born at `clock`, registered with the application (`site` is this
  /// site). With the counter layout the cell takes `next_cell_id` and has
  /// no names; that cannot fail.
  new_cell_result new_cell(const message& m, const site_identity& site, std::int32_t clock);

  /// The pieces of the store text a save writes: every active cell in
  /// list order, a reached cell as the codec writes it (into `fresh`),
  /// any other as its saved text. `head` goes first. The pieces point into
  /// `fresh` and into the population's load; they hold until either
  /// changes. `unsettled`, when given, gets the cell blocks (0 for the
  /// first) that a load of the new store must read in full: those not
  /// known to read and save as they stand.
  std::vector<std::string_view> store_pieces(std::string_view head, std::string& fresh,
                                             std::vector<std::uint32_t>* unsettled = nullptr);

 private:
  // A new cell `id` of the message's IC type at the front of the active
  // list, with its type's functions and application memory.
  ic_record& push_new_cell(std::int32_t id, const message& m, std::int32_t clock);

  const cell_codec& codec_;
  // The store as read. The `text` of every stored cell, and the `saved`
  // text of most, are views into it: it is never changed until the next
  // load, which replaces every stored cell.
  std::string text_;
  // The IC types of stored cells; a stored cell points at its type here. A
  // set never moves an element it holds, so those pointers last.
  std::set<std::string, std::less<>> types_;
  // Saved texts that differ from the stored ones; a stored cell's `saved`
  // views one of them. A deque never moves its elements when it grows at
  // the end, so those views last (a vector would move them).
  std::deque<std::string> rewritten_;
  std::int32_t load_clock_ = 0;       // the clock when the store was read
};

template <class It, class Rec>
Rec& cell_list::basic_iterator<It, Rec>::reach(const cell_slot& s) const {
  if constexpr (std::is_same_v<Rec, const cell_slot>) {
    return s;
  } else {
    if (ic_record* r = s.record_if_reached()) return *r;
    return owner_->reach(s);
  }
}

// --- a cell's lists ----------------------------------------------------------

/// Puts `m` at the front of the cell's input list.
void add_input(ic_record& cell, const message& m);

/// Puts the groups of `groups` (in their order) in front of the cell's
/// output list.
void add_output_group(ic_record& cell, std::list<output_group> groups);

/// Birth time := `clock`, max. time := 100.
void refresh(ic_record& cell, std::int32_t clock);

}  // namespace engine
