// Page-template interpreter: page descriptions, templates and the
// index-cell form.
#include "pages/vexil.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "formdecode/field_store.h"
#include "pages/zoa_lang.h"
#include "platform/platform.h"
#include "text/text.h"

namespace pages {
namespace {

using formdecode::run_exit;

// The stored form values of a mixed page, one per line, consumed in order.
class parameter_file {
 public:
  explicit parameter_file(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      lines_.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }

  /// The next line without its line break, or nothing after the last.
  std::optional<std::string> next() {
    if (next_ >= lines_.size()) return std::nullopt;
    return lines_[next_++];
  }

 private:
  std::vector<std::string> lines_;  // the file's lines
  size_t next_ = 0;                 // index of the next line to hand out
};

// The lines of one form field: header cell, full text cell, bare text cell
// (after a prompt) and hidden input.
struct field_lines {
  const char* header;
  const char* full_cell;
  const char* bare_cell;
  const char* hidden;  // format with the value
};

const field_lines ic_type_lines = {
    "<TH ALIGN=CENTER><STRONG>ic_type</STRONG></TH>\n",
    "<TD ALIGN=CENTER><INPUT TYPE=\"text\" NAME=\"ic_type\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n",
    "<INPUT TYPE=\"text\" NAME=\"ic_type\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n",
    "<INPUT TYPE=\"hidden\" NAME=\"ic_type\" VALUE=\"%s\">\n"};
const field_lines ic_id_list_lines = {
    "<TH ALIGN=CENTER><STRONG>ic_id_list</STRONG></TH>\n",
    "<TD ALIGN=CENTER><INPUT TYPE=\"text\" NAME=\"ic_id_list\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n",
    "<INPUT TYPE=\"text\" NAME=\"ic_id_list\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n",
    "<INPUT TYPE=\"hidden\" NAME=\"ic_id_list\" VALUE=\"%s\">\n"};
const field_lines message_type_lines = {
    "<TH ALIGN=CENTER><STRONG>message_type</STRONG></TH>\n",
    "<TD ALIGN=CENTER><INPUT TYPE=\"text\" NAME=\"message_type\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n",
    "<INPUT TYPE=\"text\" NAME=\"message_type\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n",
    "<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"%s\">\n"};
const field_lines content_lines = {
    "<TH ALIGN=CENTER><STRONG>content</STRONG></TH>\n",
    "<TD ALIGN=CENTER><INPUT TYPE=\"text\" NAME=\"content\" SIZE=30 VALUE=\"\"><BR></TD>\n",
    "<INPUT TYPE=\"text\" NAME=\"content\" SIZE=30 VALUE=\"\"><BR></TD>\n",
    "<INPUT TYPE=\"hidden\" NAME=\"content\" VALUE=\"%s\">\n"};

bool is_prompt(const std::optional<std::string>& value) {
  return value && !value->empty() && (*value)[0] == '?';
}

// One row of the form by the three readings of its value. The prompt is the
// page author's text and is written as it stands; a fixed value goes into an
// attribute and is escaped.
void write_field(formdecode::page& pg, const field_lines& lines,
                 const std::optional<std::string>& value) {
  if (!value) {
    pg.write(lines.header);
    pg.write(lines.full_cell);
  } else if (is_prompt(value)) {
    pg.write(lines.header);
    pg.print_markup("<TD ALIGN=CENTER>%s<BR>\n", value->substr(1));
    pg.write(lines.bare_cell);
  } else {
    pg.print(lines.hidden, *value);
  }
}

// A page name as it may stand in a URL query: bytes other than letters,
// digits and "-._~" are percent-encoded, so "&", "#" or a blank in a target
// cannot change the request that the link makes.
std::string url_encode(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += hex[u >> 4];
      out += hex[u & 15];
    }
  }
  return out;
}

// Keeps the stack of pages being shown in step with show_page.
class showing_guard {
 public:
  showing_guard(std::vector<std::string>& showing, const std::string& file)
      : showing_(showing) {
    showing_.push_back(file);
  }
  ~showing_guard() { showing_.pop_back(); }
  showing_guard(const showing_guard&) = delete;
  showing_guard& operator=(const showing_guard&) = delete;

 private:
  std::vector<std::string>& showing_;  // vexil_run::showing
};

// A requested name that could reach outside the page directory.
bool leaves_page_dir(const std::string& name) {
  return name.find('/') != std::string::npos || name.find("..") != std::string::npos;
}

[[noreturn]] void missing_file(formdecode::page& pg, const std::string& file) {
  pg.print("The file %s doesn't exist.\n", file);
  throw run_exit{0};
}

}  // namespace

std::string with_extension(const std::string& name, std::string_view ext) {
  if (name.find(ext) != std::string::npos) return name;
  return name + std::string(ext);
}

std::string image_url(const std::string& file) { return std::string(image_dir) + "/" + file; }

double numeric_value(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && text::is_space(line[i])) ++i;
  size_t start = i;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
  size_t digits = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i, ++digits;
  if (i < line.size() && line[i] == '.') {
    ++i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  return std::strtod(std::string(line.substr(start, i - start)).c_str(), nullptr);
}

std::string drop_carriage_returns(std::string_view data) {
  std::string text;
  text.reserve(data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
    text += data[i];
  }
  return text;
}

std::optional<std::string> read_page_file(const std::string& path) {
  std::optional<std::string> data = platform::read_file(path);
  if (!data) return data;
  return drop_carriage_returns(*data);
}

std::optional<std::string> directory_files::read(const std::string& path) {
  return read_page_file(path);
}

bool directory_files::remove(const std::string& path) { return platform::remove_file(path); }

const std::optional<std::string>& page_text(vexil_run& run, const std::string& path) {
  auto it = run.texts.find(path);
  if (it == run.texts.end()) it = run.texts.emplace(path, run.files.read(path)).first;
  return it->second;
}

void remove_page_file(vexil_run& run, const std::string& path) {
  run.files.remove(path);
  run.texts.erase(path);
  run.parsed.erase(path);
}

void write_image(formdecode::page& pg, const std::string& file) {
  pg.print("<center><img src=\"%s\" align=center></center>\n", image_url(file));
}

void copy_text_file(vexil_run& run, const std::string& path) {
  const std::optional<std::string>& text = page_text(run, path);
  if (!text) missing_file(run.pg, path);
  run.pg.write(*text);
}

void not_implemented(formdecode::page& pg, std::string_view what) {
  // `what` is always a text of the program itself ("image & text").
  pg.print_markup("Sorry! %s is not implemented yet.\n<p>", what);
}

void write_link(formdecode::page& pg, const std::string& target) {
  std::string display = target.substr(0, target.find('.'));
  if (target.find(".zoaml") != std::string::npos) {
    pg.print("\n<a href=\"vexil.cgi?zoa_name=%s\"> link to %s </a><p>\n", url_encode(target),
             display);
  } else if (target.find(".gif") != std::string::npos) {
    pg.print("\n<a href=\"%s\"> the picture of %s </a><p>\n", image_url(target), display);
  }
}

void write_ic_form(formdecode::page& pg, const ic_form& form, const std::string& page_name,
                   const std::string& db_access) {
  if (!form.cgi || is_prompt(form.cgi)) {
    pg.write("\n\nYou should define the cgi for this ZOA.\n");
    throw run_exit{0};
  }
  pg.write("\n\n");
  pg.write("<HR>\n<BR>\n");
  pg.write("<CENTER>\n");
  pg.write("<H3>Input this Form to send a Message to Trigger an Index Cell</H3>\n");
  pg.print("<FORM ACTION=\"%s\" METHOD=GET>\n", *form.cgi);
  pg.write("<TABLE BORDER=4 CELLPADDING=2, WIDTH=550>\n");

  switch (form.flag) {
    case flag_choose:
      pg.write("<TH ALIGN=CENTER><STRONG>flag</STRONG></TH>\n");
      pg.write("<TD ALIGN=CENTER>\n");
      if (form.flag_prompt) pg.print_markup("%s<BR>\n", form.flag_prompt->substr(1));
      pg.write("<INPUT TYPE=\"radio\" NAME=\"flag\" VALUE=\"old\">Existing IC (Do Not need to "
               "fill ic_type)<BR>\n");
      pg.write("<INPUT TYPE=\"radio\" NAME=\"flag\" VALUE=\"new\">New IC (Do Not need to fill "
               "ic_id_list)<BR>\n");
      pg.write("</TD><TR>\n");
      break;
    case flag_old:
      pg.write("<INPUT TYPE=\"hidden\" NAME=\"flag\" VALUE=\"old\">\n");
      break;
    case flag_new:
      pg.write("<INPUT TYPE=\"hidden\" NAME=\"flag\" VALUE=\"new\">\n");
      break;
    default:
      pg.print("*** Unexpected flag value = %d\n", form.flag);
  }

  write_field(pg, ic_type_lines, form.ic_type);
  write_field(pg, ic_id_list_lines, form.ic_id_list);
  write_field(pg, message_type_lines, form.message_type);
  write_field(pg, content_lines, form.content);

  pg.write("</TABLE>\n");
  pg.print("<INPUT TYPE=\"hidden\" NAME=\"zoa_name\" VALUE=\"%s\">\n", page_name);
  pg.print("<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"%s\">\n", db_access);
  if (form.ic_type && !is_prompt(form.ic_type)) {
    pg.print("<BR><INPUT TYPE=\"submit\" NAME=\"button\" VALUE=\"TRIGGER IC <%s>\"><BR>\n",
             *form.ic_type);
  } else {
    pg.write("<BR><INPUT TYPE=\"submit\" NAME=\"button\" VALUE=\"TRIGGER IC\"><BR>\n");
  }
  pg.write("</FORM>\n");
  pg.write("</CENTER>\n");
  pg.write("<HR>\n<BR>\n");
}

void run_template(vexil_run& run, zoa_page page) {
  formdecode::page& pg = run.pg;
  std::string template_name = with_extension(page.template_file.value_or(""), ".tpl");
  // A copy: pages shown from this template may remove files of the run.
  std::optional<std::string> text = page_text(run, template_name);
  if (!text) missing_file(pg, template_name);

  std::optional<std::string> par_name;
  std::optional<parameter_file> params;
  if (page.template_input) {
    par_name = with_extension(*page.template_input, ".par");
    if (const std::optional<std::string>& par = page_text(run, *par_name)) params.emplace(*par);
  }
  std::optional<ic_form> form = page.form;

  // Its own scanner: TEXT mode, line 0, column 1, and nothing that a page
  // shown from this template does can move its counters.
  zoa_scanner sc(*text);
  const scan_state& st = sc.state();
  bool inside_rel = false;
  bool form_placed = false;
  for (;;) {
    int tok = sc.next();
    if (tok == end_of_input) break;
    switch (tok) {
      case tok_char:
        pg.write(st.last_text);
        break;
      case tok_rel_open:
        if (inside_rel) {
          write_error_line(pg, st, "ZOA_REL");
        } else {
          inside_rel = true;
        }
        break;
      case tok_rel_close:
        if (inside_rel) {
          inside_rel = false;
        } else {
          write_error_line(pg, st, "/ZOA_REL");
        }
        break;
      case tok_string: {
        if (!inside_rel) {
          write_error_line(pg, st, "error position for ZOA REL name");
          break;
        }
        std::string rel = st.last_text;
        for (const zoa_link& link : page.links) {
          if (!link.name || *link.name != rel) continue;
          switch (link.kind) {
            case link_spatial:
              if (link.obj) show_page(run, *link.obj);
              break;
            case link_temporal:
              not_implemented(pg, "Temporal Link");
              break;
            case link_structural:
              if (link.obj) write_link(pg, *link.obj);
              break;
            default:
              break;
          }
        }
        break;
      }
      case tok_ic_input:
        if (!form_placed) {
          form_placed = true;
          if (form && page.name) write_ic_form(pg, *form, *page.name, page.db_access);
        } else {
          pg.write("Warning: Tag <ZOA_IC_INPUT> used twice!\n");
        }
        break;
      case tok_db_here:
        pg.print("\n<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"%s\">\n", page.db_access);
        break;
      case tok_inpbox_par:
        if (params) {
          if (std::optional<std::string> line = params->next()) {
            if (numeric_value(*line) != -1) pg.print("%s", *line);
          }
        }
        break;
      case tok_radio_par:
      case tok_chkbox_par:
        if (params) {
          if (std::optional<std::string> line = params->next()) {
            if (numeric_value(*line) == 1) pg.write("CHECKED");
          }
        }
        break;
      case tok_skip_par:
        if (params) params->next();
        break;
      case tok_too_long:
        write_error_line(pg, st, "token too long");
        break;
      default:
        pg.print("%s: %d: Invalid syntax in template.\n", template_name, tok);
    }
    if (tok == tok_too_long) break;
  }

  pg.write("\n");
  if (!form_placed && form && page.name) {
    pg.write("<HTML>\n");
    write_ic_form(pg, *form, *page.name, page.db_access);
    pg.write("</HTML>\n");
  }
  // The stored values serve one showing of the page.
  if (params) remove_page_file(run, *par_name);
}

void show_page(vexil_run& run, const std::string& name) {
  formdecode::page& pg = run.pg;
  std::string file = with_extension(name, ".zoaml");
  if (std::find(run.showing.begin(), run.showing.end(), file) != run.showing.end()) {
    pg.print("<p>The page %s includes itself; it is shown only once.<p>\n", file);
    return;
  }
  if (!run.showing.empty()) {
    if (run.inclusions == max_inclusions) {
      pg.print("<p>The page %s is left out: a page shows at most %d other pages.<p>\n", file,
               max_inclusions);
    }
    if (run.inclusions >= max_inclusions) {
      run.inclusions = max_inclusions + 1;  // the line above is written once
      return;
    }
    ++run.inclusions;
  }
  auto known = run.parsed.find(file);
  if (known == run.parsed.end()) {
    const std::optional<std::string>& text = page_text(run, file);
    if (!text) missing_file(pg, file);
    std::ostringstream messages;
    formdecode::page message_pg(messages);
    parsed_page parsed;
    {
      zoa_scanner sc(*text);
      parse_page(sc, parsed.page, message_pg);  // after an error, what was stored is used
    }
    parsed.messages = messages.str();
    known = run.parsed.emplace(file, std::move(parsed)).first;
  }
  // A copy: pages shown from this one may remove files of the run.
  zoa_page page = known->second.page;
  pg.write(known->second.messages);
  showing_guard guard(run.showing, file);

  if (!page.name) {
    pg.write("You should define ZOA name.\n");
    throw run_exit{0};
  }
  if (page.template_file && page.media_type != 0) {
    switch (page.media_type) {
      case media_image:
        write_image(pg, *page.template_file);
        break;
      case media_text:
        copy_text_file(run, *page.template_file);
        break;
      case media_mixed:
        run_template(run, page);
        break;
      default:
        not_implemented(pg, "Types except image & text");
    }
  } else if (page.form) {
    pg.write("<HTML>\n");
    write_ic_form(pg, *page.form, *page.name, page.db_access);
    pg.write("</HTML>\n");
  }
}

void run(const formdecode::request& rq, formdecode::page& pg) {
  formdecode::print_header(pg);
  formdecode::field_store fields;
  formdecode::decode_form(rq, fields, pg);

  std::optional<std::string> name = fields.get("WWW_zoa_name");
  if (!name) {
    pg.write("Lack of zoa name.\n");
    throw run_exit{0};
  }
  platform::change_directory(page_dir);  // a failure leaves the run where it started
  // Requests read page files of the page directory only.
  if (leaves_page_dir(*name)) missing_file(pg, with_extension(*name, ".zoaml"));

  directory_files files;
  vexil_run r{pg, files, {}, 0, {}, {}};
  show_page(r, *name);
}

}  // namespace pages
