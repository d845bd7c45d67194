// External message: one message as it enters or leaves the site.
//
// Built from the decoded form of a request (site/form.h), read from an
// incoming message file and written to an outgoing one. The system name record `ic_sys_name`
// names one end of a message (and, later, a cell).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>


namespace engine {

/// Message flags: how a message is addressed.
enum : std::int32_t {
  IC_ID = 1,       // one cell given by id
  IC_TYPE = 2,     // a new cell of the given type
  IC_ID_TYPE = 3,  // the cell given by id, of the given type
  ORV_MSG = 4,     // a system message for the manager itself
};

/// Message kinds: how an external message gives its message type.
enum : std::int32_t {
  KIND_TYPE_NUMBER = 2,  // made by a cell of another site: msg_type holds the number
  KIND_TYPE_NAME = 3,    // from a form: msg_type_name only, turned into its number on arrival
};

/// Content flags: what the content of an external message holds.
enum : std::int32_t {
  CONTENT_TEXT = 0,   // the text itself
  CONTENT_FILE = -1,  // the name of a file that holds the text, read once and removed
};

/// Receiver ic ids of an external message that name no one cell.
enum : std::int32_t {
  RECEIVER_ALL_ACCEPTING = -1,  // every active cell of ic_type that accepts the message type
  RECEIVER_ALTERNATIVES = -2,   // the alternatives code: not taken from outside, no cell gets it
  RECEIVER_PASSED_6 = -6,       // output code -6 of a cell of another site: no cell gets it
  RECEIVER_PASSED_7 = -7,       // output code -7 of a cell of another site: no cell gets it
  RECEIVER_NO_CELL = -8,        // addressed to no cell
};

/// Longest name or id a fixed field holds (the fields are 50 bytes).
constexpr size_t max_name_length = 49;

/// The system name of a cell or of a message end.
struct ic_sys_name {
  std::string server_id;   // server id of the site
  std::string orv_id;      // orv id (manager id) of the site
  std::string ic_type;     // IC type
  std::int32_t ic_id = 0;  // ic id; -1 for an external sender
  char flag = 0;           // 's' source cell, 'c' copy of another site's cell
};

/// One external message.
struct ext_message {
  std::int32_t kind = KIND_TYPE_NAME;  // KIND_TYPE_NAME or KIND_TYPE_NUMBER
  std::int32_t pid = 0;           // process id of the run that built it; 0 from cells
  std::int32_t flag = 0;          // IC_ID, IC_TYPE, IC_ID_TYPE or ORV_MSG
  std::int32_t reserved = 0;      // never read
  std::int32_t msg_type = -1;     // message type number
  std::string msg_type_name;      // message type name
  std::string ic_type;            // IC type of the target cells
  std::string ic_sym_name;        // symbolic name of the target
  ic_sys_name sender;             // the sending cell
  ic_sys_name receiver;           // the target
  std::int32_t content_flag = CONTENT_TEXT;  // CONTENT_TEXT or CONTENT_FILE
  std::optional<std::string> content;  // parameter values joined by "|"
};

/// The site's own identity, which every message from a form is sent to.
struct site_identity {
  std::string server_id;
  std::string orv_id;
};

}  // namespace engine
