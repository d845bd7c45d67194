// Page descriptor: what the parser makes of one page description (".zoaml").
//
// A description names the page, its media type, its template (an image, a
// text file or a ".tpl" template), the template's stored form values, its
// links to other pages, a database-access text, the index-cell form that the
// page offers and a sensitivity. Null strings are empty optionals.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pages {

/// Token codes of the tag language. The numbers show in messages of the
/// template interpreter, so they are fixed.
enum token : int {
  end_of_input = 0,
  tok_zoa = 257,               // "<ZOA>"
  tok_zoa_end = 258,           // "</ZOA>"
  tok_name_open = 259,         // "<ZOA_NAME>"
  tok_name_close = 260,        // "</ZOA_NAME>"
  tok_type_open = 261,         // "<ZOA_TYPE>"
  tok_type_close = 262,        // "</ZOA_TYPE>"
  tok_image = 263,             // "image"
  tok_text = 264,              // "text"
  tok_audio = 265,             // "audio"
  tok_motion_graph = 266,      // "motion_graph"
  tok_video = 267,             // "video"
  tok_mixed = 268,             // "mixed"
  tok_template_open = 269,     // "<ZOA_TEMPLATE>"
  tok_template_close = 270,    // "</ZOA_TEMPLATE>"
  tok_links_open = 271,        // "<ZOA_LINKS>"
  tok_links_close = 272,       // "</ZOA_LINKS>"
  tok_equal = 273,             // "="
  tok_name = 274,              // "name"
  tok_type = 275,              // "type"
  tok_obj = 276,               // "obj"
  tok_spatial = 277,           // "spatial"
  tok_temporal = 278,          // "temporal"
  tok_structural = 279,        // "structural"
  tok_ic_open = 280,           // "<ZOA_IC>"
  tok_ic_close = 281,          // "</ZOA_IC>"
  tok_sensi_open = 282,        // "<ZOA_SENSI>"
  tok_sensi_close = 283,       // "</ZOA_SENSI>"
  tok_location = 284,          // "location"
  tok_content = 285,           // "content"
  tok_time = 286,              // "time"
  tok_reserved = 287,          // no lexeme produces it
  tok_comma = 288,             // ","
  tok_rel_open = 289,          // "<ZOA_REL>"
  tok_rel_close = 290,         // "</ZOA_REL>"
  tok_char = 291,              // any other single character
  tok_old = 292,               // "old" or "OLD"
  tok_new = 293,               // "new" or "NEW"
  tok_flag = 294,              // "flag"
  tok_ic_type = 295,           // "ic_type"
  tok_ic_id_list = 296,        // "ic_id_list"
  tok_message_type = 297,      // "message_type"
  tok_question = 298,          // "?"
  tok_ic_input = 299,          // "<ZOA_IC_INPUT>"
  tok_cgi = 300,               // "cgi"
  tok_db_open = 301,           // "<ZOA_DB>"
  tok_db_close = 302,          // "</ZOA_DB>"
  tok_db_here = 303,           // "<ZOA_DB_HERE>"
  tok_template_input_open = 304,   // "<ZOA_TEMPLATE_INPUT>"
  tok_template_input_close = 305,  // "</ZOA_TEMPLATE_INPUT>"
  tok_inpbox_par = 306,        // "<ZOA_INPBOX_PAR>"
  tok_radio_par = 307,         // "<ZOA_RADIO_PAR>"
  tok_chkbox_par = 308,        // "<ZOA_CHKBOX_PAR>"
  tok_skip_par = 309,          // "<ZOA_SKIP_PAR>"
  tok_string = 310,            // a double-quoted string
  tok_too_long = 256,          // not a lexeme: a token text over the limit
};

/// Media types of a page (0: not given).
enum media : int { media_image = 1, media_text, media_audio, media_motion_graph, media_video,
                   media_mixed };

/// Kinds of link (0: not given).
enum link_kind : int { link_spatial = 1, link_temporal = 2, link_structural = 3 };

/// Values of `ic_form::flag`: the user chooses, an existing cell, a new cell.
enum form_flag : int { flag_choose = 0, flag_old = 1, flag_new = 2 };

/// One "<ZOA_LINKS>" element: a relation that a template refers to by name.
struct zoa_link {
  std::optional<std::string> name;  // relation name used in the template
  int kind = 0;                     // link_kind, 0 when not given
  std::optional<std::string> obj;   // target: a page name or an image file
};

/// The index-cell form of a page. Each string has three readings: null, the
/// user types the value; "?" and a text, the user types it below that
/// prompt; anything else, a fixed value sent hidden.
struct ic_form {
  std::optional<std::string> ic_type;       // IC type of the target cells
  std::optional<std::string> ic_id_list;    // ids of the target cells
  std::optional<std::string> message_type;  // message type name
  std::optional<std::string> content;       // message content
  std::optional<std::string> cgi;           // the form's action URL
  int flag = flag_choose;                   // form_flag
  std::optional<std::string> flag_prompt;   // "?" + prompt when flag is chosen
};

/// One page description.
struct zoa_page {
  std::optional<std::string> name;            // the page's name
  int media_type = 0;                         // media, 0 when not given
  std::optional<std::string> template_file;   // image, text file or template
  std::optional<std::string> template_input;  // parameter file of a mixed page
  std::vector<zoa_link> links;                // most recently defined first
  std::optional<ic_form> form;                // the index-cell form, if any
  std::string db_access;                      // database access text
  int sensitivity = 0;                        // 1 location, 2 content, 3 time
};

/// Longest token text the scanner accepts; a longer one ends the parse (or
/// the template) with the error line.
constexpr int max_token_length = 511;

}  // namespace pages
