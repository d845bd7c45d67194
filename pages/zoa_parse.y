/* Parser of page descriptions: one "<ZOA>" element whose items fill the
 * page descriptor. There is no error recovery: the first syntax error writes
 * the error line and ends the parse, keeping what the actions stored. The
 * actions that store a string run as soon as the string is read, so a name
 * survives a syntax error later in its element. */

%define api.pure full
%define api.prefix {zoa_}

%code requires {
#include <string>

#include "pages/zoa_lang.h"

typedef void* yyscan_t;
}

%code {
#include <sstream>

int zoa_lex(ZOA_STYPE* lval, yyscan_t scanner);

static void zoa_error(yyscan_t, pages::page_parse& out, const char* message) {
  out.error(message);
}

/* A stack of 300 states that never grows. */
#define YYINITDEPTH 300
#define YYMAXDEPTH 300
}

%parse-param {yyscan_t scanner} {pages::page_parse& out}
%lex-param {yyscan_t scanner}

%union {
  int ival;                 /* media type, sensitivity, link kind, flag */
  const std::string* sval;  /* string and prompt values; null for a bare "?" */
}

%token T_ZOA 257 T_ZOA_END 258
%token T_NAME_OPEN 259 T_NAME_CLOSE 260 T_TYPE_OPEN 261 T_TYPE_CLOSE 262
%token T_IMAGE 263 T_TEXT 264 T_AUDIO 265 T_MOTION_GRAPH 266 T_VIDEO 267 T_MIXED 268
%token T_TEMPLATE_OPEN 269 T_TEMPLATE_CLOSE 270 T_LINKS_OPEN 271 T_LINKS_CLOSE 272
%token T_EQUAL 273 T_NAME 274 T_TYPE 275 T_OBJ 276
%token T_SPATIAL 277 T_TEMPORAL 278 T_STRUCTURAL 279
%token T_IC_OPEN 280 T_IC_CLOSE 281 T_SENSI_OPEN 282 T_SENSI_CLOSE 283
%token T_LOCATION 284 T_CONTENT 285 T_TIME 286 T_RESERVED 287 T_COMMA 288
%token T_REL_OPEN 289 T_REL_CLOSE 290 T_CHAR 291 T_OLD 292 T_NEW 293
%token T_FLAG 294 T_IC_TYPE 295 T_IC_ID_LIST 296 T_MESSAGE_TYPE 297 T_QUESTION 298
%token T_IC_INPUT 299 T_CGI 300 T_DB_OPEN 301 T_DB_CLOSE 302 T_DB_HERE 303
%token T_TEMPLATE_INPUT_OPEN 304 T_TEMPLATE_INPUT_CLOSE 305
%token T_INPBOX_PAR 306 T_RADIO_PAR 307 T_CHKBOX_PAR 308 T_SKIP_PAR 309
%token <sval> T_STRING 310

%type <ival> media_type sensitivity link_kind ic_flag
%type <sval> prompt

%start zoa_file

%%

zoa_file
  : T_ZOA { out.begin_page(); } item_list T_ZOA_END
  ;

item_list
  : item
  | item_list item
  ;

item
  : T_NAME_OPEN T_STRING { pages::assign(out.page.name, $2); } T_NAME_CLOSE
  | T_TYPE_OPEN media_type T_TYPE_CLOSE { out.page.media_type = $2; }
  | T_TEMPLATE_OPEN T_STRING { pages::assign(out.page.template_file, $2); } T_TEMPLATE_CLOSE
  | T_TEMPLATE_INPUT_OPEN T_STRING { pages::assign(out.page.template_input, $2); }
    T_TEMPLATE_INPUT_CLOSE
  | T_LINKS_OPEN { out.begin_link(); } link_attr_list T_LINKS_CLOSE { out.end_link(); }
  | T_DB_OPEN T_STRING { out.page.db_access = *$2; } T_DB_CLOSE
  | T_IC_OPEN { out.begin_form(); } ic_attr_list T_IC_CLOSE
  | T_SENSI_OPEN sensitivity T_SENSI_CLOSE { out.page.sensitivity = $2; }
  ;

media_type
  : T_IMAGE        { $$ = pages::media_image; }
  | T_TEXT         { $$ = pages::media_text; }
  | T_AUDIO        { $$ = pages::media_audio; }
  | T_MOTION_GRAPH { $$ = pages::media_motion_graph; }
  | T_VIDEO        { $$ = pages::media_video; }
  | T_MIXED        { $$ = pages::media_mixed; }
  ;

sensitivity
  : T_LOCATION { $$ = 1; }
  | T_CONTENT  { $$ = 2; }
  | T_TIME     { $$ = 3; }
  ;

link_attr_list
  : link_attr
  | link_attr_list T_COMMA link_attr
  ;

link_attr
  : T_NAME T_EQUAL T_STRING    { pages::assign(out.current_link.name, $3); }
  | T_TYPE T_EQUAL link_kind   { out.current_link.kind = $3; }
  | T_OBJ T_EQUAL T_STRING     { pages::assign(out.current_link.obj, $3); }
  ;

link_kind
  : T_SPATIAL    { $$ = pages::link_spatial; }
  | T_TEMPORAL   { $$ = pages::link_temporal; }
  | T_STRUCTURAL { $$ = pages::link_structural; }
  ;

ic_attr_list
  : ic_attr
  | ic_attr_list ic_attr
  | ic_attr_list T_COMMA ic_attr
  ;

ic_attr
  : T_FLAG T_EQUAL ic_flag           { out.form().flag = $3; out.form().flag_prompt.reset(); }
  | T_FLAG T_EQUAL prompt            { out.form().flag = pages::flag_choose;
                                       pages::assign(out.form().flag_prompt, $3); }
  | T_IC_TYPE T_EQUAL T_STRING       { pages::assign(out.form().ic_type, $3); }
  | T_IC_TYPE T_EQUAL prompt         { pages::assign(out.form().ic_type, $3); }
  | T_IC_ID_LIST T_EQUAL T_STRING    { pages::assign(out.form().ic_id_list, $3); }
  | T_IC_ID_LIST T_EQUAL prompt      { pages::assign(out.form().ic_id_list, $3); }
  | T_MESSAGE_TYPE T_EQUAL T_STRING  { pages::assign(out.form().message_type, $3); }
  | T_MESSAGE_TYPE T_EQUAL prompt    { pages::assign(out.form().message_type, $3); }
  | T_CONTENT T_EQUAL T_STRING       { pages::assign(out.form().content, $3); }
  | T_CONTENT T_EQUAL prompt         { pages::assign(out.form().content, $3); }
  | T_CGI T_EQUAL T_STRING           { pages::assign(out.form().cgi, $3->empty() ? nullptr : $3); }
  | T_CGI T_EQUAL prompt             { pages::assign(out.form().cgi, $3); }
  ;

ic_flag
  : T_OLD { $$ = pages::flag_old; }
  | T_NEW { $$ = pages::flag_new; }
  ;

prompt
  : T_QUESTION T_STRING { $$ = out.make_prompt($2); }
  | T_QUESTION          { $$ = nullptr; }
  ;

%%

namespace pages {

int parse_page(zoa_scanner& sc, zoa_page& page, formdecode::page& pg) {
  page_parse out{page, pg, sc.state(), zoa_link{}, nullptr};
  int result = zoa_parse(static_cast<yyscan_t>(sc.handle()), out);
  // A token over the limit reaches the parser as its error token, which
  // ends the parse without a message of the parser's own.
  if (sc.state().too_long) write_error_line(pg, sc.state(), "token too long");
  return result;
}

std::vector<syntax_error> syntax_errors(std::string_view text) {
  std::ostringstream discarded;
  formdecode::page pg(discarded);
  zoa_scanner sc(text);
  zoa_page page;
  std::vector<syntax_error> errors;
  page_parse out{page, pg, sc.state(), zoa_link{}, &errors};
  zoa_parse(static_cast<yyscan_t>(sc.handle()), out);
  if (sc.state().too_long) {
    errors.push_back({sc.state().line, sc.state().column, "token too long"});
  }
  return errors;
}

}  // namespace pages
