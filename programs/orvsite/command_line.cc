// The command line of `orvsite`: subcommands, their options and help texts.
#include "programs/orvsite/command_line.h"

#include <map>
#include <optional>
#include <set>

#include "formdecode/console.h"
#include "programs/orvsite/backup_command.h"
#include "programs/orvsite/exchange_command.h"
#include "programs/orvsite/check_command.h"
#include "programs/orvsite/new_command.h"
#include "programs/orvsite/state_command.h"

namespace orvsite {
namespace {

constexpr const char* usage_text =
    "Usage: orvsite COMMAND DIR [OPTIONS]\n"
    "Lays out, checks, shows, prunes and exchanges for the site in directory DIR\n"
    "(the directory that holds the site's programs and its html directory).\n"
    "\n"
    "Commands:\n"
    "  new DIR --server-id ID --orv-id ID\n"
    "                 lay out a new site (or --update an existing one)\n"
    "  check DIR      read every file of the site and report the damaged ones\n"
    "  state DIR      cells, vantles, waiting messages, backups, last request\n"
    "  prune DIR --keep N\n"
    "                 remove all but the newest N backup copies\n"
    "  exchange DIR   send what waits in outbox, then pick up incoming messages\n"
    "  backup DIR [FILE]\n"
    "                 the site's html directory into an archive, under its run lock\n"
    "  restore DIR FILE\n"
    "                 put an archive back into the site under its run lock, then check\n"
    "\n"
    "orvsite COMMAND --help shows the options of a command;\n"
    "orvsite --version shows the version.\n";

constexpr const char* new_help =
    "Usage: orvsite new DIR --server-id ID --orv-id ID [--from SAMPLES]\n"
    "                        [--site-config FILE] [--kb FILE]\n"
    "       orvsite new DIR --update [--from SAMPLES] [--site-config FILE] [--kb FILE]\n"
    "Lays out a site in directory DIR (made when missing; it must not hold an\n"
    "html directory yet):\n"
    "  DIR/vexil.cgi, DIR/orv.cgi  the programs, orv under every name the pages'\n"
    "                              forms send to (cgi = \"...\")\n"
    "  DIR/S-Event_Data/Images/    the images the pages show\n"
    "  DIR/html/config.txt         server id and orv id as given, default\n"
    "                              thresholds, no e-mail address\n"
    "  DIR/html/site.config, kb.txt, VANTLE.in (and every other TYPE.in),\n"
    "  orv_ftp_get.cmd, orv_ftp_put.cmd, zoaml/ (the pages; each @ORV_ID@ and\n"
    "  @SERVER_ID@ in them becomes the site's orv id and server id)\n"
    "The files come from the installed samples (share/index-cells/samples/site,\n"
    "found beside the installed orvsite; the source tree's samples/site for\n"
    "the orvsite of a build tree), or from SAMPLES, a directory laid out like\n"
    "it. --site-config and --kb take those two files from elsewhere; both are\n"
    "checked with the programs' readers first. The site's table (site.config)\n"
    "must list the orv id, and the other sites' tables must list the new site,\n"
    "before queries reach it; new says so when the table does not list it.\n"
    "\n"
    "--update refreshes the programs, the fg functions files, the pages, the\n"
    "transfer scripts and the images of the existing site DIR (after an\n"
    "upgrade) and keeps its data: config.txt, the cells, the naming database,\n"
    "inbox, outbox and backups; site.config and kb.txt only change when given.\n"
    "Both run under the site's run lock (html/run.lock).\n";

constexpr const char* check_help =
    "Usage: orvsite check DIR [--user NAME]\n"
    "Reads every file of the site DIR with the programs' own readers:\n"
    "html/config.txt, site.config (which must list the site's orv id), kb.txt,\n"
    "every TYPE.in, file.ic, name_db, vantle_db, ic_id_counter, name_counter,\n"
    "every file waiting in html/inbox and every page description in\n"
    "html/zoaml, and that the manager programs the pages name are there.\n"
    "\n"
    "Then whether the user the web server runs the programs as (NAME, or the\n"
    "owner of DIR/html) may do what the programs need, judged from that\n"
    "user's ids and groups and the modes, whoever runs the check: pass\n"
    "through the directories above the site, read and run the programs and\n"
    "the transfer scripts, read and write html, inbox, outbox, BACKUP and the\n"
    "files the programs write, read the other files; and that no private key\n"
    "in html/ssh may be read by others. And whether the files agree: the id\n"
    "counter above every id in file.ic and name_db, a name_db record for\n"
    "every stored cell, a vantle_db name for every named vantle, no file in\n"
    "inbox that pick-up never takes, no file.ic that is a second name of a\n"
    "backup copy, no backup hint (BACKUP.file.ic.next) that names a taken\n"
    "number, a run.journal that is a file.\n"
    "\n"
    "Writes one line per problem, \"FILE: what is wrong\" (with the line where\n"
    "the reader tells it, and \"; to mend: COMMAND\" where a command mends it),\n"
    "and exits with status 1; a clean site gives one line\n"
    "\"DIR: in order (N files read)\" and status 0 (2 for an unknown user).\n"
    "Nothing is written to the site.\n";

constexpr const char* backup_help =
    "Usage: orvsite backup DIR [FILE]\n"
    "Writes the html directory of the site DIR (everything the site keeps:\n"
    "settings, cells, naming files, inbox, outbox, backups, SSH keys) into the\n"
    "gzip-compressed tar archive FILE, by default SITE-YYYYMMDD-HHMMSS.tar.gz\n"
    "(UTC) in the current directory. The archive is made with mode 600 (it\n"
    "holds the site's private key) and owners as numbers. It holds the site's\n"
    "run lock (html/run.lock, the lock every request takes) for the whole\n"
    "copy, so requests wait and the archive is one consistent state. Runs\n"
    "tar. Exit status 0, or 1 with the reason on standard error.\n";

constexpr const char* restore_help =
    "Usage: orvsite restore DIR FILE\n"
    "Puts the html directory of the archive FILE (made by orvsite backup)\n"
    "back into the site DIR, under the site's run lock: the archive is\n"
    "unpacked beside html with its owners and modes (run it as root to keep\n"
    "owners), then everything in html but the lock file html/run.lock is\n"
    "replaced by it. html itself and its lock file stay, so requests that\n"
    "wait for the lock go on with the restored site, never beside it.\n"
    "Then checks the site as orvsite check does (its lines follow) and exits\n"
    "with its status: 0 when the restored site is in order, 1 otherwise or\n"
    "when the restore fails (the reason on standard error). The programs and\n"
    "pages outside html come back with orvsite new --update.\n";

constexpr const char* state_help =
    "Usage: orvsite state DIR\n"
    "Shows the site DIR in a few lines: its ids, its cells by IC type, the\n"
    "vantle names in vantle_db, the files waiting in inbox and outbox, the\n"
    "number and total size of the backup copies in html/BACKUP, and the time\n"
    "of the last request (when html/dump_file was last written). Nothing is\n"
    "written to the site.\n";

constexpr const char* prune_help =
    "Usage: orvsite prune DIR --keep N\n"
    "Removes all but the newest N (at least 1) backup copies\n"
    "html/BACKUP/file.ic.bNUMBER of the site DIR. Newest means latest\n"
    "modification time: a save files its copy under the lowest free number, so\n"
    "after a prune the numbers no longer tell the age. The copies kept keep\n"
    "their numbers (they are not renumbered). Runs under the site's run lock\n"
    "(html/run.lock, the lock every request takes), so it waits for a running\n"
    "request and the copy a request has just written is always kept.\n";

constexpr const char* exchange_help =
    "Usage: orvsite exchange [--keep N] DIR\n"
    "One round of message exchange for the site DIR, for a scheduler (cron, a\n"
    "systemd timer). The site's manager program (DIR/orv.cgi, or the name its\n"
    "pages send their forms to) is run as a web server runs it for a GET\n"
    "request: with no environment but the CGI variables, PATH and HOME. First\n"
    "message_type=SYS_SEND_MSG&flag=orv, which runs html/orv_ftp_put.cmd\n"
    "(skipped when html/outbox holds no file), then\n"
    "message_type=SYS_PICK_UP_MSG&flag=orv, which runs html/orv_ftp_get.cmd and\n"
    "processes what arrived in html/inbox. The manager takes the site's run lock\n"
    "for each request, so exchanges and users' requests take turns.\n"
    "\n"
    "Prints one line \"DIR: sent N messages, picked up M messages\" when\n"
    "something moved. On standard error, each line beginning with \"DIR: \",\n"
    "only what needs the operator: messages left in outbox and errors about\n"
    "the messages of this round, every time; the errors the manager reports\n"
    "before it takes a message (warnings about the stored cells, such as a\n"
    "vantle's keyword that kb.txt lacks) once a day per text, noted in\n"
    "html/exchange.reported (remove it to hear them again). What the transfer\n"
    "scripts write on standard error passes through. Each pick-up\n"
    "saves the cells and so files a backup copy, a whole store: with --keep N\n"
    "the backup copies beyond the newest N are then removed, as orvsite prune\n"
    "--keep N does (silently, unless that fails).\n"
    "Exit status: 0, or 1 when DIR is not a site or the manager fails (its\n"
    "status and the last lines of its page go to standard error).\n";

// A parsed subcommand line: positional arguments and --name value options.
struct parsed_args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // option name (with --) -> value
  std::set<std::string> flags;                 // options without a value
  bool help = false;
};

// Splits `args` (after the subcommand) by the options a subcommand knows.
// False, with the complaint on `err`, for an unknown option or a missing
// value.
bool parse_args(const std::vector<std::string>& args, size_t from,
                const std::set<std::string>& with_value, const std::set<std::string>& flags,
                parsed_args* p, const std::string& command, std::ostream& err) {
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      p->help = true;
    } else if (with_value.count(a)) {
      if (i + 1 >= args.size()) {
        err << "orvsite " << command << ": " << a << " needs a value\n";
        return false;
      }
      p->options[a] = args[++i];
    } else if (flags.count(a)) {
      p->flags.insert(a);
    } else if (a.size() > 1 && a[0] == '-') {
      err << "orvsite " << command << ": unknown option " << a << "\n";
      return false;
    } else {
      p->positional.push_back(a);
    }
  }
  return true;
}

struct command {
  const char* name;
  const char* help;
  std::set<std::string> with_value;
  std::set<std::string> flags;
  std::vector<std::string> required;  // options that must be given
  int (*run)(const parsed_args& p, std::ostream& out, std::ostream& err);
  size_t least = 1, most = 1;  // how many positional arguments it takes
  const char* positional_text = "exactly one site directory";
};

// The number of `--keep`, or none (with the complaint on `err`) when it is
// not a plain number.
std::optional<int> keep_count(const std::string& text, const char* command, std::ostream& err) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    err << "orvsite " << command << ": --keep takes a number, not \"" << text << "\"\n";
    return std::nullopt;
  }
  return std::stoi(text);
}

int run_exchange(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<int> keep;
  if (auto it = p.options.find("--keep"); it != p.options.end()) {
    keep = keep_count(it->second, "exchange", err);
    if (!keep) return 2;
    if (*keep < 1) {
      err << "orvsite exchange: --keep must be at least 1 (the newest copy always stays)\n";
      return 2;
    }
  }
  return exchange_site(p.positional[0], out, err, keep);
}

int run_new(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::string why;
  std::optional<sources> src = find_sources(&why);
  if (!src) {
    err << "orvsite new: " << why << "\n";
    return 1;
  }
  new_options o;
  o.dir = p.positional[0];
  auto get = [&](const char* name) -> std::optional<std::string> {
    auto it = p.options.find(name);
    if (it == p.options.end()) return std::nullopt;
    return it->second;
  };
  o.server_id = get("--server-id").value_or("");
  o.orv_id = get("--orv-id").value_or("");
  o.from = get("--from");
  o.site_config = get("--site-config");
  o.kb = get("--kb");
  o.update = p.flags.count("--update") > 0;
  return new_site(o, *src, out, err);
}

int run_check(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<std::string> user;
  if (auto it = p.options.find("--user"); it != p.options.end()) user = it->second;
  return check_command(p.positional[0], out, err, user);
}

int run_state(const parsed_args& p, std::ostream& out, std::ostream& err) {
  return state_command(p.positional[0], out, err);
}

int run_prune(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<int> keep = keep_count(p.options.at("--keep"), "prune", err);
  if (!keep) return 2;
  return prune_command(p.positional[0], *keep, out, err);
}

int run_backup(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<std::string> file;
  if (p.positional.size() > 1) file = p.positional[1];
  return backup_command(p.positional[0], file, out, err);
}

int run_restore(const parsed_args& p, std::ostream& out, std::ostream& err) {
  return restore_command(p.positional[0], p.positional[1], out, err);
}

const std::vector<command>& commands() {
  static const std::vector<command> list = {
      {"new", new_help, {"--server-id", "--orv-id", "--from", "--site-config", "--kb"},
       {"--update"}, {}, run_new},
      {"check", check_help, {"--user"}, {}, {}, run_check},
      {"state", state_help, {}, {}, {}, run_state},
      {"prune", prune_help, {"--keep"}, {}, {"--keep"}, run_prune},
      {"exchange", exchange_help, {"--keep"}, {}, {}, run_exchange},
      {"backup", backup_help, {}, {}, {}, run_backup, 1, 2,
       "the site directory and, if you like, the archive"},
      {"restore", restore_help, {}, {}, {}, run_restore, 2, 2,
       "the site directory and the archive"},
  };
  return list;
}

}  // namespace

int run_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << usage_text;
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << usage_text;
    return 0;
  }
  if (args[0] == "--version") {
    out << formdecode::version_line("orvsite");
    return 0;
  }
  for (const command& c : commands()) {
    if (args[0] != c.name) continue;
    parsed_args p;
    if (!parse_args(args, 1, c.with_value, c.flags, &p, c.name, err)) {
      err << "Try: orvsite " << c.name << " --help\n";
      return 2;
    }
    if (p.help) {
      out << c.help;
      return 0;
    }
    if (p.positional.size() < c.least || p.positional.size() > c.most) {
      err << "orvsite " << c.name << ": give " << c.positional_text << "\n"
          << "Try: orvsite " << c.name << " --help\n";
      return 2;
    }
    for (const std::string& option : c.required) {
      if (!p.options.count(option)) {
        err << "orvsite " << c.name << ": " << option << " is required\n"
            << "Try: orvsite " << c.name << " --help\n";
        return 2;
      }
    }
    return c.run(p, out, err);
  }
  err << "orvsite: unknown command " << args[0] << "\n" << usage_text;
  return 2;
}

}  // namespace orvsite
