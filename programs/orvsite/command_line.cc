// The command line of `orvsite`: subcommands, their options and help texts.
#include "programs/orvsite/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "formdecode/console.h"
#include "platform/process.h"
#include "programs/orvsite/backup_command.h"
#include "programs/orvsite/exchange_command.h"
#include "programs/orvsite/check_command.h"
#include "programs/orvsite/deliver_command.h"
#include "programs/orvsite/new_command.h"
#include "programs/orvsite/mesh_command.h"
#include "programs/orvsite/peer_command.h"
#include "programs/orvsite/send_command.h"
#include "programs/orvsite/state_command.h"
#include "programs/orvsite/status_command.h"
#include "text/text.h"

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
    "  status DIR...  the exchange at a glance; exit status 1 when the operator\n"
    "                 is needed (--json, --prometheus FILE for monitors)\n"
    "  watch DIR      exchange whenever a file arrives in inbox or outbox\n"
    "  send HTML      deliver html/outbox over SSH, as html/orv_ftp_put.cmd does\n"
    "  peer add|list|remove|rotate-key DIR ...\n"
    "                 the sites on other machines this site sends to\n"
    "  mesh add|check DIR [ROSTER]\n"
    "                 every peer of a roster file at once, and the mesh verified\n"
    "  backup DIR [FILE]\n"
    "                 the site's html directory into an archive, under its run lock\n"
    "  restore DIR FILE\n"
    "                 put an archive back into the site under its run lock, then check\n"
    "  deliver [--peer ID] [--batches] HTML\n"
    "                 take a delivery from a peer on standard input (its forced command)\n"
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
    "  DIR/html/config.txt         server id and orv id as given, the sample\n"
    "                              sites' thresholds (retrieval 1, distance 9,\n"
    "                              vantles 3), no e-mail address\n"
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
    "It prints the site's line for /etc/cron.d, which runs its exchange every\n"
    "minute at a second of the minute derived from the orv id, so sites do\n"
    "not all exchange at the same moment.\n"
    "\n"
    "--update refreshes the programs, the fg functions files, the pages, the\n"
    "transfer scripts and the images of the existing site DIR (after an\n"
    "upgrade) and keeps its data: config.txt, the cells, the naming database,\n"
    "inbox, outbox and backups; site.config and kb.txt only change when given.\n"
    "A site that holds orv_ssh_link.sh gets the SSH transfer scripts and the\n"
    "forced command orv_ssh_serve.sh anew, any other the local scripts.\n"
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
    "An archive with an entry that is not a plain file or a folder inside\n"
    "html is refused before anything changes. The id and name counters go\n"
    "on from the higher of the site's and the archive's. A restore killed\n"
    "during its swap is finished by the site's next request or orvsite\n"
    "command.\n"
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
    "Usage: orvsite exchange [--keep N] [--log FILE] [--prometheus FILE] DIR\n"
    "One round of message exchange for the site DIR, for a scheduler (cron, a\n"
    "systemd timer). Two requests of the site manager, carried out by orvsite\n"
    "itself on DIR/html as the manager would carry them out for a web server.\n"
    "First message_type=SYS_SEND_MSG&flag=orv, which runs html/orv_ftp_put.cmd\n"
    "(skipped when html/outbox holds no file), then\n"
    "message_type=SYS_PICK_UP_MSG&flag=orv, which runs html/orv_ftp_get.cmd and\n"
    "processes what arrived in html/inbox. The pick-up, which saves the cells\n"
    "and files a backup copy, runs only when html/inbox holds a file for the\n"
    "site (its name begins with the site's orv id), unless the get script may\n"
    "fetch from elsewhere (it lacks the line \"orvsite: fetches nothing\" that\n"
    "the shipped ones hold): an idle site does nothing. When files arrive\n"
    "during the round, or the pick-up writes answers into outbox, another round\n"
    "follows (at most 20). Each request takes the site's run lock, so\n"
    "exchanges and users' requests take turns.\n"
    "\n"
    "Prints one line \"DIR: sent N messages, picked up M messages\" when\n"
    "something moved. On standard error, only what needs the operator. Lines\n"
    "beginning with \"DIR: \": messages left in outbox and errors about the\n"
    "messages of this round, every time; the errors the manager reports before\n"
    "it takes a message (warnings about the stored cells, such as a vantle's\n"
    "keyword that kb.txt lacks) once a day per text, noted in\n"
    "html/exchange.reported (remove it to hear them again). Failures of the\n"
    "command itself begin with \"orvsite exchange: \"; for a manager that fails,\n"
    "\"orvsite exchange: DIR: the site manager ended with status N on QUERY\"\n"
    "and the last errors of its answer, indented. What the transfer scripts\n"
    "write passes through to standard error as it is. Each pick-up\n"
    "files a backup copy, a whole store: with --keep N the backup copies\n"
    "beyond the newest N are removed after a pick-up, as orvsite prune --keep N\n"
    "does (silently, unless that fails).\n"
    "Exit status: 0, or 1 when DIR is not a site or the manager fails.\n"
    "\n"
    "Each run updates the site's exchange record html/exchange.state (for\n"
    "orvsite status): per peer site the last send that delivered all its files,\n"
    "the last message picked up from it (the sender is known by the SSH\n"
    "transfer's delivery marks, or by the message when a source cell sent it)\n"
    "and, when files for it stayed in outbox, the time and cause of the failure\n"
    "(the transfer script's last lines about it).\n"
    "A damaged record is reported and written anew from the lines that read.\n"
    "Exchanges of one site take turns (html/exchange.lock).\n"
    "A run that moved something or failed, and each incoming file the manager\n"
    "refused (set aside in html/inbox/rejected), gets a line in the site's log:\n"
    "in the journal, with a priority, when run by systemd; otherwise appended\n"
    "to html/log/exchange.log with the time in front.\n"
    "  --log FILE         append the log lines to FILE instead\n"
    "  --prometheus FILE  afterwards write the site's metrics to FILE, as\n"
    "                     orvsite status --prometheus does\n";

constexpr const char* status_help =
    "Usage: orvsite status [--json | --prometheus FILE] [--failing-for TIME]\n"
    "                      [--waiting-for TIME] DIR...\n"
    "Shows the state of the exchange of each site DIR: the files waiting in\n"
    "html/outbox and html/inbox with the age of the oldest (from its modification\n"
    "time), the files set aside in html/inbox/rejected, the backup copies (count\n"
    "and bytes), the last request, the last exchange and pick-up, and for each\n"
    "peer site its last send and receive, the files waiting for it, and a\n"
    "failing transfer with the time it began, the last failure and its cause.\n"
    "The peers are those of html/exchange.state (written by orvsite exchange)\n"
    "and of the host map html/orv_hosts. It also reads the site as orvsite check\n"
    "does and lists what that finds. Nothing is written to the site.\n"
    "\n"
    "It also shows per peer what it has staged and the refusals of its\n"
    "deliveries, the entries of inbox that pick-up never takes, the locks held\n"
    "and by whom, an exchange that died, the free disk space and the refusals\n"
    "of the exchange log.\n"
    "\n"
    "A site needs the operator when sends to a peer have failed for longer than\n"
    "--failing-for, when a file has waited in outbox, inbox or staging for\n"
    "longer than --waiting-for (both by default the site's own, in\n"
    "html/exchange.conf, else 10m), when its last exchange failed as a whole,\n"
    "when an exchange died, when inbox holds an entry pick-up never takes, when\n"
    "a lock has been held longer than the site's lock-held-for (5m), when its\n"
    "disk has less free than free-space-below (100M), or when orvsite check\n"
    "finds a damaged or missing file. TIME is a number of seconds, or a number\n"
    "followed by s, m, h or d.\n"
    "  --json             one JSON object for tools instead of the text (times\n"
    "                     in seconds since 1970, null for never)\n"
    "  --prometheus FILE  write the figures as metrics in the text format of the\n"
    "                     node exporter's textfile collector to FILE (name it\n"
    "                     *.prom in the collector's directory) instead of the\n"
    "                     text; the file is written aside and renamed into place\n"
    "Exit status: 0 when every site is in order, 1 when one needs the operator\n"
    "or is no site, 2 on a wrong command line or when FILE cannot be written.\n";

constexpr const char* watch_help =
    "Usage: orvsite watch [--keep N] [--retry SECONDS] DIR\n"
    "Exchanges for the site DIR as soon as there is something to do, for\n"
    "machines without systemd's path units: runs as orvsite exchange does\n"
    "(same requests, same run lock, same output) once at the start and then\n"
    "each time a file arrives in html/inbox or is written into html/outbox.\n"
    "The kernel tells of new files (inotify): nothing is polled, and an idle\n"
    "site does nothing at all. A burst of files is taken in one round once it\n"
    "pauses for a tenth of a second (or after a second); files that arrive\n"
    "during a round lead to another round. When a round fails or leaves files\n"
    "in outbox (a peer out of reach), it is tried again after --retry seconds\n"
    "(by default the site's retry in html/exchange.conf, else 60) or at the\n"
    "next arrival. --keep N prunes the backup copies\n"
    "after each pick-up, as orvsite exchange --keep N.\n"
    "When html/inbox or html/outbox is replaced, moved or removed (a restore,\n"
    "rm -rf inbox; mkdir inbox), or html is moved away and back, it watches\n"
    "the new ones, runs a round for what came meanwhile and says so in the\n"
    "exchange log.\n"
    "Runs until it is stopped (a signal: Ctrl-C, kill). Exit status 1 at once\n"
    "when DIR is not a site or its boxes cannot be watched, and later when\n"
    "the site can no longer be watched (the reason on standard error and in\n"
    "the log), so that its service starts it anew.\n";

constexpr const char* mesh_help =
    "Usage: orvsite mesh add DIR ROSTER [--from ADDRESS] [--install-key KEY]\n"
    "                                    [--authorized-keys PATH]\n"
    "       orvsite mesh check DIR [ROSTER]\n"
    "A roster lists the sites of a mesh, one line each (# starts a comment):\n"
    "  SITE  ORV-ID  HOST  PORT  USER  SITE-DIRECTORY  HOST-KEY-FINGERPRINT\n"
    "add: adds every other site of ROSTER as a peer of the site DIR (whose own\n"
    "line is the one of its orv id), as orvsite peer add does, with the host key\n"
    "pinned to the roster's fingerprint (a host showing another key is not\n"
    "added). It prints the authorized_keys line each peer's account needs; with\n"
    "--install-key it logs in to each peer's account with that key (your own,\n"
    "not the site's) and appends the line to PATH there (.ssh/authorized_keys,\n"
    "relative to the account's home; %o in PATH stands for the peer's orv id),\n"
    "printing it only for the peers it cannot reach. Peers already in html/orv_hosts are left as they are.\n"
    "check: one line per peer of html/orv_hosts: reachable, its host key the one\n"
    "of html/ssh/known_hosts (and of ROSTER, when given), the site's key let in\n"
    "and held to the forced command; with ROSTER, every site of it a peer.\n"
    "Exit status 0 when every peer is in order, 1 otherwise.\n";

constexpr const char* peer_help =
    "Usage: orvsite peer add DIR NAME HOST [--port N] [--user U] [--site-dir PATH]\n"
    "                        [--from ADDRESS] [--yes | --fingerprint SHA256:...]\n"
    "       orvsite peer list DIR\n"
    "       orvsite peer remove DIR NAME\n"
    "       orvsite peer rotate-key DIR [--from ADDRESS]\n"
    "The sites on other machines that the site DIR sends to over SSH (with the\n"
    "SSH transfer scripts in its html directory).\n"
    "\n"
    "add: the peer NAME (its orv id) lives on HOST, reached on port N (22) as\n"
    "user U (ssh's default), in the site directory PATH there (by default the\n"
    "directory beside DIR named NAME). Makes the site's key html/ssh/id_ed25519\n"
    "when it has none; fetches the peer's host key with ssh-keyscan and shows\n"
    "its fingerprint, to compare with what the other machine shows for\n"
    "ssh-keygen -lf /etc/ssh/ssh_host_ed25519_key.pub; asks for a \"y\" (or takes\n"
    "--yes, or --fingerprint with the fingerprint expected; a different one is\n"
    "refused). Then adds the key to html/ssh/known_hosts and the line\n"
    "\"NAME [U@]HOST[:N] PATH\" to html/orv_hosts, and prints the line that the\n"
    "other machine needs in the authorized_keys of the account that runs the\n"
    "peer: this site's key, which may only run the forced command\n"
    "PATH/html/orv_ssh_serve.sh (deliver messages into PATH), only from\n"
    "ADDRESS (by default the address this machine uses to reach HOST).\n"
    "list: one line per peer of html/orv_hosts: orv id, where, site directory,\n"
    "and the fingerprint of its host key in html/ssh/known_hosts.\n"
    "remove: takes NAME's line out of html/orv_hosts and its host key out of\n"
    "html/ssh/known_hosts (unless another peer lives on the same host and port).\n"
    "rotate-key: makes a new site key (the old one becomes id_ed25519.old) and\n"
    "prints the authorized_keys line each peer's machine needs in place of the\n"
    "old one; until then the files for that peer wait in outbox.\n"
    "Exit status 0, or 1 with the reason on standard error.\n";

constexpr const char* deliver_help =
    "Usage: orvsite deliver [--peer ID] [--batches] HTML <DELIVERY\n"
    "Takes a delivery of message files on standard input for the site whose html\n"
    "directory is HTML, as a peer's forced command (html/orv_ssh_serve.sh) runs it\n"
    "for the command orv-deliver: for each file a header of 256 bytes (transfer id\n"
    "and size, padded with spaces, and a newline), then its bytes. The files are\n"
    "staged within the site's staging limits (html/orv_staging_limits) before\n"
    "anything is locked, then linked into HTML/inbox, each exactly once; with\n"
    "--peer only files sent under that orv id are taken. One line per file on\n"
    "standard output: linked ID NAME, known ID, bad ID or refused ID WHY; every\n"
    "refusal is also noted for the exchange log. This does in one process what\n"
    "html/orv_ssh_link.sh does, by the same rules.\n"
    "With --batches (the command orv-deliver-batches of a session kept open by\n"
    "orvsite watch at the sender) one delivery follows another: each ends with a\n"
    "record \"-- end of batch\" in place of a header, is linked in and answered,\n"
    "and its answer ends with the line \"batch done\". The session ends with its\n"
    "input, or after a delivery that stopped short.\n"
    "Exit status 0, or 1 when the site cannot take deliveries (the reason on\n"
    "standard error).\n";

constexpr const char* send_help =
    "Usage: orvsite send HTML\n"
    "Delivers the message files of HTML/outbox (HTML is a site's html\n"
    "directory) to the peer sites of the host map HTML/orv_hosts over SSH,\n"
    "exactly as the SSH put script HTML/orv_ftp_put.cmd does: the same work\n"
    "directory HTML/.outbox-sending.PID, the same ssh command lines, keys,\n"
    "known hosts and kept connections (ORV_SSH_PERSIST), one orv-deliver\n"
    "session per peer (the copy by rsync and the link-in for a peer whose\n"
    "scripts are older), ORV_SEND_PARALLEL peers at a time (8 by default), and\n"
    "the same reports on standard error, each line beginning with\n"
    "\"orv_ftp_put.cmd: \". An outbox file is removed once its peer confirmed it.\n"
    "It starts one ssh per peer where the script starts some twenty helper\n"
    "processes. The put script hands its work to it when the environment\n"
    "variable ORVSITE names this program, as orvsite exchange and orvsite\n"
    "watch set it for the scripts they run.\n"
    "With ORV_RSYNC_OPTIONS set (every file by rsync, with those options) the\n"
    "script sends by itself; orvsite send refuses it with status 2.\n"
    "Exit status 0, or 1 when a file stays in outbox.\n";

// A parsed subcommand line: positional arguments and --name value options.
struct parsed_args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // option name (with --) -> value
  std::set<std::string> flags;                 // options without a value
  bool help = false;
};

// Splits `args` (after the subcommand) by the options a subcommand knows,
// with getopt_long: "--keep 3" and "--keep=3" are the same, a long option
// may be shortened while it stays unambiguous, and "--" ends the options.
// Operands keep their order among the options. False, with the complaint on
// `err`, for an unknown option, a missing value or a value given to a flag.
// getopt_long keeps its position in globals, so this is not reentrant; it
// starts afresh on every call.
bool parse_args(const std::vector<std::string>& args, size_t from,
                const std::set<std::string>& with_value, const std::set<std::string>& flags,
                parsed_args* p, const std::string& command, std::ostream& err) {
  // The option table: each option's index + 256 is its code, so no code is
  // a character. The names must outlive the parse: they point into the sets.
  std::vector<std::string> names;
  std::vector<option> table;
  for (const std::set<std::string>* set : {&with_value, &flags}) {
    for (const std::string& name : *set) {
      names.push_back(name);
      table.push_back({name.c_str() + 2, set == &with_value ? required_argument : no_argument,
                       nullptr, static_cast<int>(256 + table.size())});
    }
  }
  table.push_back({"help", no_argument, nullptr, 'h'});
  table.push_back({nullptr, 0, nullptr, 0});

  // getopt_long permutes the pointers, never the texts; argv[0] is skipped.
  std::vector<std::string> texts(args.begin() + static_cast<std::ptrdiff_t>(from), args.end());
  std::vector<char*> argv{const_cast<char*>(command.c_str())};
  for (std::string& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(argv.size() - 1);

  optind = 0;  // start afresh, whatever an earlier parse left
  opterr = 0;  // the complaints below are ours
  // "-": operands come back in order as code 1; ":": a missing value is ':'.
  int code;
  while ((code = getopt_long(argc, argv.data(), "-:h", table.data(), nullptr)) != -1) {
    if (code == 1) {
      p->positional.push_back(optarg);
    } else if (code == 'h') {
      p->help = true;
    } else if (code >= 256) {
      const std::string& name = names[static_cast<size_t>(code - 256)];
      if (with_value.count(name)) {
        p->options[name] = optarg;
      } else {
        p->flags.insert(name);
      }
    } else if (code == ':') {
      err << "orvsite " << command << ": " << names[static_cast<size_t>(optopt - 256)]
          << " needs a value\n";
      return false;
    } else if (optopt >= 256) {
      err << "orvsite " << command << ": " << names[static_cast<size_t>(optopt - 256)]
          << " takes no value\n";
      return false;
    } else if (optopt != 0) {
      err << "orvsite " << command << ": unknown option -" << static_cast<char>(optopt) << "\n";
      return false;
    } else {
      err << "orvsite " << command << ": unknown option " << argv[optind - 1] << "\n";
      return false;
    }
  }
  // Operands after "--".
  for (int i = optind; i < argc; ++i) p->positional.push_back(argv[static_cast<size_t>(i)]);
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
  std::optional<int> n = text::parse_number(text, 0, 999999999);
  if (!n) err << "orvsite " << command << ": --keep takes a number, not \"" << text << "\"\n";
  return n;
}

// The transfer scripts that an exchange runs hand their work to this
// program (of the same version) when ORVSITE names it.
void offer_to_scripts() {
  std::string self = platform::own_executable();
  if (!self.empty()) platform::set_environment("ORVSITE", self);
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
  exchange_extras extras;
  if (auto it = p.options.find("--log"); it != p.options.end()) extras.log_file = it->second;
  if (auto it = p.options.find("--prometheus"); it != p.options.end()) {
    extras.prometheus_file = it->second;
  }
  offer_to_scripts();
  return exchange_site(p.positional[0], out, err, keep, extras);
}

int run_send(const parsed_args& p, std::ostream&, std::ostream& err) {
  if (!platform::environment("ORV_RSYNC_OPTIONS").value_or("").empty()) {
    err << "orvsite send: ORV_RSYNC_OPTIONS is set: orv_ftp_put.cmd sends every file by rsync "
           "itself\n";
    return 2;
  }
  // A hang-up, an interrupt or a termination ends the sessions under way;
  // the work directory goes, the files stay in outbox.
  platform::catch_stop_signals();
  return send_command(p.positional[0], err);
}

int run_watch(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<int> keep;
  if (auto it = p.options.find("--keep"); it != p.options.end()) {
    keep = keep_count(it->second, "watch", err);
    if (!keep) return 2;
    if (*keep < 1) {
      err << "orvsite watch: --keep must be at least 1 (the newest copy always stays)\n";
      return 2;
    }
  }
  // The site's own retry time (html/exchange.conf) unless one is given.
  int retry = static_cast<int>(std::min<std::int64_t>(read_site_settings(p.positional[0]).retry, 999999));
  if (auto it = p.options.find("--retry"); it != p.options.end()) {
    const std::string& t = it->second;
    std::optional<int> seconds = text::parse_number(t, 1, 999999);
    if (!seconds) {
      err << "orvsite watch: --retry takes a number of seconds (at least 1), not \"" << t << "\"\n";
      return 2;
    }
    retry = *seconds;
  }
  offer_to_scripts();
  return watch_site(p.positional[0], out, err, keep, retry);
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

int run_status(const parsed_args& p, std::ostream& out, std::ostream& err) {
  status_options o;
  o.json = p.flags.count("--json") > 0;
  if (auto it = p.options.find("--prometheus"); it != p.options.end()) o.prometheus_file = it->second;
  if (o.json && o.prometheus_file) {
    err << "orvsite status: give --json or --prometheus, not both\n";
    return 2;
  }
  o.limits.failing_for_given = p.options.count("--failing-for") > 0;
  o.limits.waiting_for_given = p.options.count("--waiting-for") > 0;
  for (auto [name, into] : {std::pair{"--failing-for", &o.limits.failing_for},
                            std::pair{"--waiting-for", &o.limits.waiting_for}}) {
    auto it = p.options.find(name);
    if (it == p.options.end()) continue;
    std::optional<std::int64_t> d = parse_duration(it->second);
    if (!d) {
      err << "orvsite status: " << name << " takes a time such as 90, 15m, 2h or 1d, not \""
          << it->second << "\"\n";
      return 2;
    }
    *into = *d;
  }
  return status_command(p.positional, o, out, err);
}

int run_prune(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<int> keep = keep_count(p.options.at("--keep"), "prune", err);
  if (!keep) return 2;
  return prune_command(p.positional[0], *keep, out, err);
}

int run_peer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  parsed_args p;
  if (!parse_args(args, 1, {"--port", "--user", "--site-dir", "--from", "--fingerprint"},
                  {"--yes"}, &p, "peer", err)) {
    err << "Try: orvsite peer --help\n";
    return 2;
  }
  if (p.help) {
    out << peer_help;
    return 0;
  }
  const std::vector<std::string>& a = p.positional;
  std::string what = a.empty() ? "" : a[0];
  auto option = [&](const char* name) -> std::optional<std::string> {
    auto it = p.options.find(name);
    if (it == p.options.end()) return std::nullopt;
    return it->second;
  };
  size_t wanted = what == "add" ? 4 : what == "remove" ? 3 : 2;
  if ((what != "add" && what != "list" && what != "remove" && what != "rotate-key") ||
      a.size() != wanted) {
    err << "orvsite peer: give add DIR NAME HOST, list DIR, remove DIR NAME or rotate-key DIR\n"
        << "Try: orvsite peer --help\n";
    return 2;
  }
  if (what == "list") return peer_list(a[1], out, err);
  if (what == "remove") return peer_remove(a[1], a[2], out, err);
  if (what == "rotate-key") return peer_rotate_key(a[1], option("--from"), out, err);
  peer_options o;
  o.dir = a[1];
  o.name = a[2];
  o.host = a[3];
  if (std::optional<std::string> port = option("--port")) {
    std::optional<int> number = text::parse_number(*port, 1, 65535);
    if (!number) {
      err << "orvsite peer add: --port takes a port number, not \"" << *port << "\"\n";
      return 2;
    }
    o.port = *number;
  }
  o.user = option("--user").value_or("");
  o.site = option("--site-dir");
  o.from = option("--from");
  o.fingerprint = option("--fingerprint");
  o.yes = p.flags.count("--yes") > 0;
  return peer_add(o, std::cin, out, err);
}

int run_mesh(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  parsed_args p;
  if (!parse_args(args, 1, {"--from", "--install-key", "--authorized-keys"}, {}, &p, "mesh", err)) {
    err << "Try: orvsite mesh --help\n";
    return 2;
  }
  if (p.help) {
    out << mesh_help;
    return 0;
  }
  const std::vector<std::string>& a = p.positional;
  std::string what = a.empty() ? "" : a[0];
  if (!((what == "add" && a.size() == 3) || (what == "check" && (a.size() == 2 || a.size() == 3)))) {
    err << "orvsite mesh: give add DIR ROSTER or check DIR [ROSTER]\n"
        << "Try: orvsite mesh --help\n";
    return 2;
  }
  if (what == "check") {
    std::optional<std::string> roster;
    if (a.size() == 3) roster = a[2];
    return mesh_check(a[1], roster, out, err);
  }
  mesh_options o;
  o.dir = a[1];
  o.roster = a[2];
  if (auto it = p.options.find("--from"); it != p.options.end()) o.from = it->second;
  if (auto it = p.options.find("--install-key"); it != p.options.end()) o.install_key = it->second;
  if (auto it = p.options.find("--authorized-keys"); it != p.options.end()) {
    o.authorized_keys = it->second;
  }
  return mesh_add(o, out, err);
}

int run_backup(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::optional<std::string> file;
  if (p.positional.size() > 1) file = p.positional[1];
  return backup_command(p.positional[0], file, out, err);
}

int run_restore(const parsed_args& p, std::ostream& out, std::ostream& err) {
  return restore_command(p.positional[0], p.positional[1], out, err);
}

int run_deliver(const parsed_args& p, std::ostream& out, std::ostream& err) {
  std::string peer;
  if (auto it = p.options.find("--peer"); it != p.options.end()) peer = it->second;
  return deliver(p.positional[0], peer, std::cin, out, err, p.flags.count("--batches") > 0);
}

const std::vector<command>& commands() {
  static const std::vector<command> list = {
      {"new", new_help, {"--server-id", "--orv-id", "--from", "--site-config", "--kb"},
       {"--update"}, {}, run_new},
      {"check", check_help, {"--user"}, {}, {}, run_check},
      {"state", state_help, {}, {}, {}, run_state},
      {"prune", prune_help, {"--keep"}, {}, {"--keep"}, run_prune},
      {"exchange", exchange_help, {"--keep", "--log", "--prometheus"}, {}, {}, run_exchange},
      {"status", status_help, {"--prometheus", "--failing-for", "--waiting-for"}, {"--json"}, {},
       run_status, 1, SIZE_MAX, "at least one site directory"},
      {"watch", watch_help, {"--keep", "--retry"}, {}, {}, run_watch},
      {"send", send_help, {}, {}, {}, run_send, 1, 1, "exactly one html directory"},
      {"backup", backup_help, {}, {}, {}, run_backup, 1, 2,
       "the site directory and, if you like, the archive"},
      {"restore", restore_help, {}, {}, {}, run_restore, 2, 2,
       "the site directory and the archive"},
      {"deliver", deliver_help, {"--peer"}, {"--batches"}, {}, run_deliver, 1, 1,
       "the html directory of the site"},
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
  if (args[0] == "peer") return run_peer(args, out, err);
  if (args[0] == "mesh") return run_mesh(args, out, err);
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
    // A restore killed in a site is finished before anything reads it.
    // (deliver and send work on an html directory, as the scripts they
    // stand for.)
    if (c.name != std::string("new") && c.name != std::string("deliver") &&
        c.name != std::string("send")) {
      size_t sites = c.name == std::string("status") ? p.positional.size() : 1;
      for (size_t i = 0; i < sites && i < p.positional.size(); ++i) {
        if (finish_cut_restore(p.positional[i], err) != 0) return 1;
      }
    }
    return c.run(p, out, err);
  }
  err << "orvsite: unknown command " << args[0] << "\n" << usage_text;
  return 2;
}

}  // namespace orvsite
