// Records of the index-cell engine: cells, messages, the lists hanging from
// them, and the transition functions of an IC type.
//
// The lists of the cell model are chains in which new elements are put at
// the front; here they are standard containers whose element order is the
// chain order (front first), so "put at the front" is an insert at begin().
// Every record owns its texts; only the transition functions of an IC type
// are shared, between the cells that read them unchanged (`fg_chain`).
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ext_message.h"

namespace engine {

/// States every cell knows; positive states are named by the fg functions.
enum : std::int32_t {
  STATE_START = 0,
  STATE_DEAD = -1,
  STATE_SLEEP = -2,
};

/// Sender ids with a meaning of their own.
enum : std::int32_t {
  SENDER_EXTERNAL = -1,  // from the form or from another site
  SENDER_UNKNOWN = 0,
};

/// Output-IC codes of a transition's output line; a positive code is the ic
/// id of the receiver.
enum : std::int32_t {
  OUT_NEW_CELL = 0,           // a new cell of the output type (locally); sent on as it is
  OUT_ALL_ACCEPTING = -1,     // each cell accepting the message type, in a group of its own
  OUT_ONE_ACCEPTING = -2,     // the cells accepting the message type, as alternatives
  OUT_ALL_FOUND = -3,         // each cell the application finds, in a group of its own
  OUT_ONE_FOUND = -4,         // the cells the application finds, as alternatives
  OUT_OTHERS_ACCEPTING = -5,  // as OUT_ALL_ACCEPTING, the firing cell left out
  OUT_PASSED_6 = -6,          // to another site only: the code goes as the receiver id
  OUT_PASSED_7 = -7,          // to another site only: the code goes as the receiver id
  OUT_SELF = -9,              // the firing cell itself, recorded with this code as receiver
};

/// Message type of a reply request (input of the built-in head function).
constexpr std::int32_t reply_msg_type = -1;

/// Parameter flags of an fg functions file.
enum : std::int32_t {
  PAR_CONSTANT = 101,
  PAR_VARIABLE = 102,
  PAR_FUNCTION = 103,
  PAR_DATABASE = 104,
};

constexpr int buffer_slots = 10;        // senders waiting for a reply
constexpr int same_ic_slots = 50;       // same-ic partners of types 0..49
constexpr std::int32_t free_slot = -999;  // source of a free buffer slot
constexpr std::int32_t initial_max_time = 100;  // life of a new, woken or refreshed cell

/// One parameter of a message spec, a predicate or an action.
struct parameter {
  std::int32_t index = 0;              // 1-based position in its list
  std::int32_t flag = 0;               // PAR_CONSTANT .. PAR_DATABASE, or 0
  std::string name;                    // the parameter text as written
  std::optional<std::string> content;  // constants: the text after the first character
};

/// Chains of ids and of names.
using id_node = std::int32_t;
using name_node = std::string;

/// One message, copied by value between the queue and the lists.
struct message {
  std::int32_t mflag = 0;               // IC_ID, IC_TYPE, IC_ID_TYPE, ORV_MSG
  std::int32_t msg_type = 0;            // message type number
  std::int32_t sender = 0;              // emitting cell, SENDER_EXTERNAL, SENDER_UNKNOWN
  std::vector<name_node> sym_names;     // symbolic names of the target; first one is used
  std::string server_id;                // server id of the target's site
  std::string orv_id;                   // orv id of the target's site
  std::optional<std::string> itype;     // IC type of the target; "NONE" when absent
  std::vector<id_node> receivers;       // target ic ids, in order
  char flag = 0;                        // source/copy flag for a cell made from it
  std::optional<std::string> content;   // parameter values separated by "|"
  float fuzzy = 0;                      // degree of the message
  std::vector<parameter> params;        // parameter template (fg specs only)
};

/// A message in a queue or in the spec lists of an fg function.
using msg_link = message;

/// The IC type of the target, "NONE" when the message has none.
inline std::string itype_of(const message& m) { return m.itype.value_or("NONE"); }

/// An entry of a cell's input list or of an output group.
struct msg_node {
  std::int32_t source = 0;  // input: the message's sender; output: its receiver
  message msg;
};

/// What one firing of a cell sent.
struct output_group {
  std::vector<msg_node> msgs;  // in group order
};

/// The result of every lookup that yields several cells.
struct id_set {
  std::vector<id_node> ids;
};

/// The result of every lookup that yields several sites (orv ids).
struct name_set {
  std::vector<name_node> names;
};

/// A sender waiting for a reply.
struct buffer_slot {
  std::int32_t msg_type = 0;
  std::int32_t source = free_slot;  // free_slot marks a free slot
};

/// One condition of a predicate (listed by the dumps; files never set one).
struct predicate_condition {
  std::int32_t type = 0;
  std::string op;
  std::vector<std::string> values;
};

/// The predicate a transition may call.
struct fg_predicate {
  std::int32_t number = 0;
  std::vector<parameter> params;
};

/// One action a transition runs.
struct fg_action {
  std::int32_t number = 0;
  std::vector<parameter> params;
};

/// One transition function of an IC type. The input specs, the three
/// output-IC columns and the output specs are in chain order (the reverse
/// of the file); actions are in file order.
struct fg_function {
  std::int32_t current_state = 0;
  std::int32_t reserved = 0;
  std::vector<std::vector<predicate_condition>> predicate_conditions;  // always empty from files
  std::optional<fg_predicate> predicate;
  std::int32_t input_count = 0;   // no. of input messages
  std::int32_t inputs_needed = 0; // input messages still needed
  std::vector<msg_link> inputs;
  std::int32_t output_ic_count = 0;        // as written; may be negative
  std::vector<id_node> output_ics;         // target codes
  std::int32_t output_ic_count_copy = 0;   // second copy
  std::vector<name_node> output_ic_types;  // "NOT_SPEC" when absent
  std::vector<name_node> output_ic_names;  // "0" when absent
  std::int32_t output_msg_count = 0;       // as written
  std::vector<msg_link> outputs;
  std::int32_t next_state = 0;
  std::vector<fg_action> actions;
};

/// The transition functions of a cell. A cell reads the chain of its IC
/// type, shared by every cell of that type, until something would change
/// one of its function records (a selection assigns inputs to the specs of
/// a function, a firing resolves its output fuzzy values): then the cell
/// takes its own copy of that function, which it keeps for the rest of the
/// run, and reads the others from the shared chain still. Copying a chain
/// copies the cell's own functions, so two cells never share a changing
/// record.
class fg_chain {
 public:
  using functions = std::vector<fg_function>;

  fg_chain() = default;
  /// A chain of the given functions, read by this cell alone.
  fg_chain(functions own) : shared_(std::make_shared<const functions>(std::move(own))) {}
  /// A chain that reads `shared` until the cell needs its own functions.
  explicit fg_chain(std::shared_ptr<const functions> shared) : shared_(std::move(shared)) {}
  fg_chain(const fg_chain& o) : shared_(o.shared_) {
    own_.reserve(o.own_.size());
    for (const std::unique_ptr<fg_function>& f : o.own_) {
      own_.push_back(f ? std::make_unique<fg_function>(*f) : nullptr);
    }
  }
  fg_chain(fg_chain&&) noexcept = default;
  fg_chain& operator=(const fg_chain& o) {
    if (this != &o) *this = fg_chain(o);
    return *this;
  }
  fg_chain& operator=(fg_chain&&) noexcept = default;

  /// The chain as the cell's type has it, without the cell's own copies.
  const functions& view() const { return shared_ ? *shared_ : empty_chain(); }

  /// Function `i` as the cell has it: its own copy, or the shared one.
  const fg_function& operator[](size_t i) const {
    if (i < own_.size() && own_[i]) return *own_[i];
    return view()[i];
  }
  /// The cell's own copy of function `i`, taken from the shared chain on
  /// first use. The shared chain stays referenced: a reader that began on
  /// it may still hold its records.
  fg_function& own(size_t i) {
    if (own_.size() < view().size()) own_.resize(view().size());
    std::unique_ptr<fg_function>& f = own_.at(i);
    if (!f) f = std::make_unique<fg_function>(view()[i]);
    return *f;
  }
  fg_function& operator[](size_t i) { return own(i); }
  /// True while the cell reads every function from the chain of its type.
  bool is_shared() const {
    for (const std::unique_ptr<fg_function>& f : own_) {
      if (f) return false;
    }
    return true;
  }

  size_t size() const { return view().size(); }
  bool empty() const { return view().empty(); }
  /// Adds a function at the end (the chain is copied: for building one).
  void push_back(fg_function f) {
    functions more = view();
    more.push_back(std::move(f));
    shared_ = std::make_shared<const functions>(std::move(more));
  }

 private:
  static const functions& empty_chain() {
    static const functions none;
    return none;
  }

  std::shared_ptr<const functions> shared_;           // the type's chain
  std::vector<std::unique_ptr<fg_function>> own_;     // the cell's own copies, by place
};

/// A cell's application memory; the application derives its record from it.
struct app_memory {
  virtual ~app_memory() = default;
};

/// A variable bound for the latest firing.
struct binding {
  std::string name;
  std::string value;
};

/// One index cell.
struct ic_record {
  std::int32_t id = 0;
  std::string ic_type;
  std::list<msg_node> inputs;         // newest first
  std::list<output_group> outputs;    // newest group first
  std::int32_t current_state = STATE_START;
  std::int32_t initial_state = STATE_START;
  std::int32_t birth_time = 0;        // message clock at creation, wake-up or refresh
  std::int32_t max_time = initial_max_time;
  fg_chain fg;                        // the type's transitions
  std::vector<binding> bindings;
  std::array<buffer_slot, buffer_slots> buffer{};
  std::unique_ptr<app_memory> mm;     // application memory, or none
  std::array<std::int32_t, same_ic_slots> same_ic;
  std::int32_t same_ic_reply = -1;    // same ic for message type -1
  std::string sym_name;               // ic symbolic name
  ic_sys_name sys_name;

  ic_record() { same_ic.fill(-1); }
};

}  // namespace engine
