// Scale of whole requests: runs the built `orv` as the web server would,
// against generated sites of 1,000, 10,000 and 100,000 vantles, and prints
// each measure as a ratio of two medians taken side by side in one run.
// Every round runs each case once, in the same order, so a busy moment of
// a shared machine falls on all of them alike.
//
//   scale_bench [--rounds N] [--orv PATH] [--before PATH] [--keep DIR] [--no-100k]
//
// The sites are laid out in a fresh temporary directory (or DIR, kept
// afterwards) with the sample site's files and a store written in the
// store's own format, with naming files that agree with it. `--no-100k`
// leaves out the site of 100,000 vantles and its rows, for a quick run.
// `--before PATH` runs the requests for one vantle with a second `orv`
// too (in sites of their own), each round beside the first, and prints
// their rows side by side: a change measured before and after in one run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "site/keywords.h"
#include "text/text.h"

namespace {

namespace fs = std::filesystem;

const std::string samples = SAMPLES_DIR;

// Keywords of the sample `kb.txt` that the generated vantles describe
// themselves with; one or two of them make a vantle's virtual group.
const char* const keywords[] = {"mechanics", "optics",  "retrieval databases", "networks",
                                "jazz",      "poetry",  "novels",              "football",
                                "tennis",    "biology", "painting",            "classical music"};
constexpr int keyword_count = sizeof keywords / sizeof keywords[0];

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_text(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", p.c_str());
    std::exit(1);
  }
}

// The store block of vantle `id` at rest (state 1), as a create leaves it.
std::string vantle_block(int id) {
  const std::string n = std::to_string(id);
  std::string i_am = std::string(keywords[id % keyword_count]) + "#";
  if (id % 3 == 0) i_am += std::string(keywords[(id / 3) % keyword_count]) + "#";
  i_am += "!";
  std::string b;
  b += "id: " + n + "\nic type: VANTLE\ncurrent state: 1\ninitial state: 0\nmax. time: 100\n";
  b += "ic symbolic name: \nic sys name -- server id: srv1\n";
  b += "ic sys name -- orv id: north\nic sys name -- ic type: VANTLE\n";
  b += "ic sys name -- ic id: " + n + "\nic sys name -- flag: s\n";
  b += "input list: 0\noutput list: 0\nsame ic: 0\n";
  // The vantle record: its id, the description, names, counters, and the
  // collected entries (none yet).
  b += n + "\nnorth\ns\nArchives\ndoc-" + n + "\n" + i_am + "\n!\n!\n!\nlenses#!\n";
  b += "notes on document " + n + " of the generated site, a line of ordinary length#!\n";
  b += "vantle " + n + "\nundefined\n0\n0\n0\ns\n3\n";
  b += "info_link: 0\nprofile_link: 0\nfusion: 0\n";
  return b;
}

// A site of `n` vantles in `root`/html: the sample files, the store, and
// naming files that hold every vantle (ids 1..n).
void lay_out_site(const fs::path& root, int n) {
  fs::path html = root / "html";
  fs::create_directories(html / "BACKUP");
  fs::create_directories(html / "inbox");
  fs::create_directories(html / "outbox");
  for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) {
    fs::copy_file(samples + "/" + f, html / f, fs::copy_options::overwrite_existing);
  }
  fs::copy_file(samples + "/north/config.txt", html / "config.txt",
                fs::copy_options::overwrite_existing);
  auto name_entry = [](const std::string& id) {
    return id + "\n*** (no symbolic name)\nsrv1\nnorth\nVANTLE\n" + id + "\ns\n";
  };
  auto vantle_entry = [](const std::string& id) { return "vantle " + id + "\ndoc-" + id + "\n"; };
  // The entries of the last id are the longest: room for n of those is
  // enough, so none of the three texts grows while it is built.
  const std::string last = std::to_string(n);
  const size_t count = static_cast<size_t>(std::max(n, 0));
  std::string store, names, vantles;
  store.reserve(count * vantle_block(n).size());
  names.reserve(count * name_entry(last).size());
  vantles.reserve(count * vantle_entry(last).size());
  for (int id = 1; id <= n; ++id) {
    store += vantle_block(id);
    const std::string s = std::to_string(id);
    names += name_entry(s);
    vantles += vantle_entry(s);
  }
  write_text(html / "file.ic", store);
  write_text(html / "name_db", names);
  write_text(html / "vantle_db", vantles);
  write_text(html / "ic_id_counter", std::to_string(n + 1));
  // Pick-up first runs the fetch script; here the files are in place.
  write_text(html / "orv_ftp_get.cmd", "#!/bin/sh\nexit 0\n");
  fs::permissions(html / "orv_ftp_get.cmd", fs::perms::owner_all, fs::perm_options::add);
}

// An incoming message file: MSG_SHOW_ALL from a vantle of "east" to the
// vantle `id` of this site.
std::string incoming_message(int id) {
  return "2\n0\n1\n0\n200\n\nVANTLE\n\nsrv2\neast\nVANTLE\n7\ns\nsrv1\nnorth\nVANTLE\n" +
         std::to_string(id) + "\ns\n0\nshow\n";
}

// Fills the inbox of `root` with `count` message files to vantles 1..
// (wrapping around `vantles`); the names begin with the orv id.
void fill_inbox(const fs::path& root, int count, int vantles) {
  fs::path inbox = root / "html/inbox";
  for (const auto& e : fs::directory_iterator(inbox)) fs::remove_all(e.path());
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "north1700000000%06d", i);
    write_text(inbox / name, incoming_message(1 + i % vantles));
  }
}

// Pages for vexil in `root`/html/zoaml: "same" shows one linked page 500
// times, "spread" shows 500 linked pages once each. Each linked page is a
// form with a template of ordinary size.
void lay_out_pages(const fs::path& root, int links) {
  fs::path dir = root / "html/zoaml";
  fs::create_directories(dir);
  auto leaf = [&](const std::string& name) {
    write_text(dir / (name + ".zoaml"),
               "<ZOA>\n  <ZOA_NAME> \"" + name + "\" </ZOA_NAME>\n  <ZOA_TYPE> mixed </ZOA_TYPE>\n"
               "  <ZOA_TEMPLATE> \"" + name + ".tpl\" </ZOA_TEMPLATE>\n  <ZOA_IC>\n"
               "    flag = ? \"old or new:\"\n    ic_type = \"VANTLE\"\n"
               "    ic_id_list = ? \"Cell id:\"\n    message_type = \"MSG_SHOW_ALL\"\n"
               "    cgi = \"orv.cgi\"\n  </ZOA_IC>\n</ZOA>\n");
    write_text(dir / (name + ".tpl"),
               "<H2>Page " + name + "</H2>\n<P>A paragraph of ordinary text.</P>\n"
               "<ZOA_IC_INPUT>\n");
  };
  std::string same_links, same_tpl, spread_links, spread_tpl;
  leaf("leaf");
  same_links = "<ZOA_LINKS> name = \"r\", type = spatial, obj = \"leaf\" </ZOA_LINKS>\n";
  for (int i = 0; i < links; ++i) {
    const std::string n = std::to_string(i);
    leaf("leaf" + n);
    same_tpl += "<ZOA_REL>\"r\"</ZOA_REL>\n";
    spread_links +=
        "<ZOA_LINKS> name = \"r" + n + "\", type = spatial, obj = \"leaf" + n + "\" </ZOA_LINKS>\n";
    spread_tpl += "<ZOA_REL>\"r" + n + "\"</ZOA_REL>\n";
  }
  for (const auto& [name, links_text, tpl] :
       {std::tuple{"same", same_links, same_tpl}, std::tuple{"spread", spread_links, spread_tpl}}) {
    write_text(dir / (std::string(name) + ".zoaml"),
               std::string("<ZOA>\n  <ZOA_NAME> \"") + name +
                   "\" </ZOA_NAME>\n  <ZOA_TYPE> mixed </ZOA_TYPE>\n  <ZOA_TEMPLATE> \"" + name +
                   ".tpl\" </ZOA_TEMPLATE>\n" + links_text + "</ZOA>\n");
    write_text(dir / (std::string(name) + ".tpl"), tpl);
  }
}

// A keyword list of `n` words ("a#b#...#!") from one half of the keywords
// above (`half` 0 or 1), so that lists of different halves never hold the
// same word and matching must compare them all.
std::string keyword_list(int n, int half) {
  std::string list;
  for (int i = 0; i < n; ++i) {
    list += std::string(keywords[i % (keyword_count / 2) + half * (keyword_count / 2)]) + "#";
  }
  return list + "!";
}

// What one run of a program cost.
struct cost {
  double seconds = 0;      // wall-clock time
  double cpu_seconds = 0;  // user and system time of the process
  long max_rss_kib = 0;
  int status = 0;
};

// The cost of steps run one after the other, as one case: the times
// added up, and the first failure's status.
cost in_sum(const std::vector<cost>& steps) {
  cost total;
  for (const cost& c : steps) {
    total.seconds += c.seconds;
    total.cpu_seconds += c.cpu_seconds;
    if (total.status == 0) total.status = c.status;
  }
  return total;
}

// Runs `argv` in `dir` with `env`, standard input from `input` (or
// /dev/null) and standard output to /dev/null.
cost run(const std::vector<std::string>& argv, const fs::path& dir,
         const std::vector<std::string>& env, const std::string& input = "/dev/null") {
  std::vector<char*> args, vars;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& v : env) vars.push_back(const_cast<char*>(v.c_str()));
  vars.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open(input.c_str(), O_RDONLY);
    int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::chdir(dir.c_str()) != 0) {
      ::_exit(126);
    }
    ::execve(args[0], args.data(), vars.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage ru {};
  ::wait4(pid, &status, 0, &ru);
  cost c;
  c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  c.cpu_seconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                  static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  c.max_rss_kib = ru.ru_maxrss;
  c.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return c;
}

std::vector<std::string> get_env(const std::string& query) {
  return {"REQUEST_METHOD=GET", "QUERY_STRING=" + query, "PATH=/usr/bin:/bin"};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The samples of every case, by name.
struct samples_by_case {
  std::map<std::string, std::vector<double>> seconds, cpu;
  std::map<std::string, long> peak_kib;

  void add(const std::string& name, const cost& c) {
    if (c.status != 0) {
      std::fprintf(stderr, "%s: exit status %d\n", name.c_str(), c.status);
      std::exit(1);
    }
    seconds[name].push_back(c.seconds);
    cpu[name].push_back(c.cpu_seconds);
    peak_kib[name] = std::max(peak_kib[name], c.max_rss_kib);
  }
  double med(const std::string& name) { return median(seconds.at(name)); }
  double med_cpu(const std::string& name) { return median(cpu.at(name)); }
};

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string orv = std::string(PROGRAM_DIR) + "/orv";
  const std::string vexil = std::string(PROGRAM_DIR) + "/vexil";
  std::string keep;
  std::string before;
  bool with_100k = true;
  // "--rounds 3" and "--rounds=3" alike, long options shortened while
  // unambiguous.
  const option table[] = {{"rounds", required_argument, nullptr, 'r'},
                          {"orv", required_argument, nullptr, 'o'},
                          {"before", required_argument, nullptr, 'b'},
                          {"keep", required_argument, nullptr, 'k'},
                          {"no-100k", no_argument, nullptr, 'n'},
                          {nullptr, 0, nullptr, 0}};
  opterr = 0;
  bool usage = false;
  for (int code; !usage && (code = getopt_long(argc, argv, "", table, nullptr)) != -1;) {
    if (code == 'r') {
      std::optional<int> n = text::parse_number(std::string_view(optarg), 1, 1000000);
      usage = !n;
      rounds = n.value_or(rounds);
    } else if (code == 'o') {
      orv = optarg;
    } else if (code == 'b') {
      before = optarg;
    } else if (code == 'k') {
      keep = optarg;
    } else if (code == 'n') {
      with_100k = false;
    } else {
      usage = true;
    }
  }
  if (usage || optind != argc) {
    std::fprintf(stderr,
                 "usage: scale_bench [--rounds N] [--orv PATH] [--before PATH] [--keep DIR] "
                 "[--no-100k]\n");
    return 2;
  }
  fs::path root;
  if (keep.empty()) {
    std::string templ = (fs::temp_directory_path() / "scale_bench.XXXXXX").string();
    if (!::mkdtemp(templ.data())) return 1;
    root = templ;
  } else {
    root = keep;
    fs::remove_all(root);
    fs::create_directories(root);
  }

  std::printf("orv: %s\nsites in %s, %d rounds\n", orv.c_str(), root.c_str(), rounds);
  if (!before.empty()) std::printf("before: %s\n", before.c_str());
  lay_out_site(root / "v1000", 1000);
  lay_out_site(root / "v10000", 10000);
  if (with_100k) {
    auto start = std::chrono::steady_clock::now();
    lay_out_site(root / "v100000", 100000);
    std::printf("site of 100,000 vantles laid out in %.2f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  // The earlier program works in sites of its own: each program leaves
  // its site as it left it (a fingerprint of its last save, or none).
  if (!before.empty()) {
    lay_out_site(root / "b10000", 10000);
    if (with_100k) lay_out_site(root / "b100000", 100000);
  }
  lay_out_site(root / "backups0", 1000);
  lay_out_site(root / "backups10000", 1000);
  lay_out_site(root / "pickup1000", 1000);
  lay_out_site(root / "pickup2000", 1000);
  lay_out_site(root / "form", 0);
  lay_out_pages(root / "pages", 500);
  {
    // 10,000 numbered backups (links of one file: only the names count).
    fs::path b = root / "backups10000/html/BACKUP";
    write_text(b / "file.ic.b0", read_text(root / "backups10000/html/file.ic"));
    for (int i = 1; i < 10000; ++i) {
      fs::create_hard_link(b / "file.ic.b0", b / ("file.ic.b" + std::to_string(i)));
    }
  }
  const uintmax_t store_bytes = fs::file_size(root / "v10000/html/file.ic");
  const uintmax_t store_bytes_100k =
      with_100k ? fs::file_size(root / "v100000/html/file.ic") : 0;

  // Form bodies of 50,000 and 100,000 repeated fields.
  auto form_body = [&](int fields) {
    std::string body = "flag=orv&message_type=MSG_SHOW_CONFIG";
    for (int i = 0; i < fields; ++i) body += "&ic_sym_name=ab";
    fs::path p = root / ("form" + std::to_string(fields) + ".body");
    write_text(p, body);
    return std::make_pair(p.string(), body.size());
  };
  auto form50 = form_body(50000), form100 = form_body(100000);
  auto post_env = [](size_t length) {
    return std::vector<std::string>{"REQUEST_METHOD=POST",
                                    "CONTENT_TYPE=application/x-www-form-urlencoded",
                                    "CONTENT_LENGTH=" + std::to_string(length),
                                    "PATH=/usr/bin:/bin"};
  };

  // One request that reaches one vantle: it is loaded with all the others,
  // fires (MSG_SHOW_ALL shows it) and all are saved.
  auto request = [&](int n) {
    return get_env("message_type=MSG_SHOW_ALL&flag=old&ic_type=VANTLE&ic_id_list=" +
                   std::to_string(n / 2));
  };
  const std::vector<std::string> backup_query = get_env("message_type=SYS_BACKUP&flag=orv");
  const std::vector<std::string> pick_up_query = get_env("message_type=SYS_PICK_UP_MSG&flag=orv");
  // `cat` of the site files of `html` that a request reads besides the store.
  auto cat_of_others = [](const fs::path& html) {
    std::vector<std::string> cat = {"/bin/cat"};
    for (const char* f : {"config.txt", "site.config", "kb.txt", "VANTLE.in", "name_db",
                          "vantle_db", "ic_id_counter"}) {
      cat.push_back((html / f).string());
    }
    return cat;
  };
  // The I/O floor of the request at 10,000: the store copied, the other
  // site files read, and one process started.
  fs::path floor_site = root / "v10000/html";
  const std::vector<std::string> cat = cat_of_others(floor_site);

  // Removes the backups a request filed, so every round meets the same
  // site (the site with 10,000 backups keeps exactly those). The rest of
  // the site needs no restoring: MSG_SHOW_ALL changes no cell and leaves
  // the naming files as they are, and the store it writes back holds the
  // same cells in the opposite order (each load and save reverses them).
  // So a site's `file.ic` alternates between the generated text and that
  // text reversed, and each request case meets one order in one round and
  // the other in the next (the two requests at 100,000 take turns going
  // first). The backup hint goes stale with the backup removed, so each
  // save lists an empty `BACKUP` (the one with 10,000 backups lists those)
  // and files `.b0`.
  auto drop_new_backups = [&](const fs::path& site, int keep_count) {
    for (const auto& e : fs::directory_iterator(site / "html/BACKUP")) {
      std::string name = e.path().filename().string();
      if (name.rfind("file.ic.b", 0) != 0) continue;
      if (std::atoi(name.c_str() + 9) >= keep_count) fs::remove(e.path());
    }
  };

  std::string kb_error;
  std::optional<site::knowledge_base> kb =
      site::parse_knowledge_base(read_text(samples + "/kb.txt"), &kb_error);
  if (!kb) {
    std::fprintf(stderr, "the sample kb.txt: %s\n", kb_error.c_str());
    return 1;
  }

  samples_by_case s;
  std::vector<std::string> env_none = {"PATH=/usr/bin:/bin"};

  // The durable copy of the site of `n` vantles, the least a request there
  // must do: its store copied and synced to disk (as a save syncs the store
  // it writes), the other site files read, and one process started. The
  // synced copy alone is kept too ("synced copy N").
  auto durable_copy = [&](samples_by_case& sink, int n) {
    const std::string size = std::to_string(n);
    const fs::path html = root / ("v" + size) / "html";
    const fs::path copy = root / "durable.copy";
    cost synced = run({"/bin/dd", "if=" + (html / "file.ic").string(), "of=" + copy.string(),
                       "bs=4M", "conv=fsync", "status=none"},
                      root, env_none);
    cost read = run(cat_of_others(html), root, env_none);
    cost start = run({"/bin/true"}, root, env_none);
    fs::remove(copy);
    sink.add("synced copy " + size, synced);
    sink.add("durable copy " + size, in_sum({synced, read, start}));
  };
  // The request at 100,000 vantles as it is, and with the C library told
  // to leave large pages alone: the program then skips its restart.
  std::vector<std::string> request_small_pages = request(100000);
  request_small_pages.push_back("GLIBC_TUNABLES=glibc.malloc.hugetlb=0");
  for (int r = 0; r <= rounds; ++r) {
    const bool warm_up = r == 0;  // fills caches; not counted
    samples_by_case& into = s;
    samples_by_case discard;
    samples_by_case& sink = warm_up ? discard : into;

    cost f1 = run({"/bin/cp", (floor_site / "file.ic").string(), (root / "floor.copy").string()},
                  root, env_none);
    cost f2 = run(cat, root, env_none);
    cost f3 = run({"/bin/true"}, root, env_none);
    sink.add("floor", in_sum({f1, f2, f3}));
    sink.add("floor copy", f1);
    fs::remove(root / "floor.copy");

    durable_copy(sink, 10000);
    sink.add("request 10000", run({orv}, root / "v10000", request(10000)));
    drop_new_backups(root / "v10000", 0);
    if (!before.empty()) {
      sink.add("request 10000, before", run({before}, root / "b10000", request(10000)));
      drop_new_backups(root / "b10000", 0);
    }
    sink.add("request 1000", run({orv}, root / "v1000", request(1000)));
    drop_new_backups(root / "v1000", 0);

    if (with_100k) {
      durable_copy(sink, 100000);
      // The two take turns going first, so each meets both orders of the
      // store (see `drop_new_backups`) and both places in the round.
      auto large_pages_on = [&] {
        sink.add("request 100000", run({orv}, root / "v100000", request(100000)));
        drop_new_backups(root / "v100000", 0);
      };
      auto large_pages_off = [&] {
        sink.add("request 100000, large pages off",
                 run({orv}, root / "v100000", request_small_pages));
        drop_new_backups(root / "v100000", 0);
      };
      if (r % 2 == 0) {
        large_pages_on();
        large_pages_off();
      } else {
        large_pages_off();
        large_pages_on();
      }
      if (!before.empty()) {
        sink.add("request 100000, before", run({before}, root / "b100000", request(100000)));
        drop_new_backups(root / "b100000", 0);
      }
    }

    sink.add("save, no backups", run({orv}, root / "backups0", backup_query));
    drop_new_backups(root / "backups0", 0);
    sink.add("save, 10000 backups", run({orv}, root / "backups10000", backup_query));

    fill_inbox(root / "pickup1000", 1000, 1000);
    sink.add("pick-up 1000", run({orv}, root / "pickup1000", pick_up_query));
    drop_new_backups(root / "pickup1000", 0);
    fill_inbox(root / "pickup2000", 2000, 1000);
    sink.add("pick-up 2000", run({orv}, root / "pickup2000", pick_up_query));
    drop_new_backups(root / "pickup2000", 0);

    sink.add("form 50000", run({orv}, root / "form", post_env(form50.second), form50.first));
    sink.add("form 100000", run({orv}, root / "form", post_env(form100.second), form100.first));

    sink.add("vexil, one page 500 times", run({vexil}, root / "pages", get_env("zoa_name=same")));
    sink.add("vexil, 500 pages", run({vexil}, root / "pages", get_env("zoa_name=spread")));

    // Keyword matching in this process: both lists come from outside.
    for (int words : {4000, 8000}) {
      const std::string a = keyword_list(words, 0), b = keyword_list(words, 1);
      auto start = std::chrono::steady_clock::now();
      std::clock_t c0 = std::clock();
      int matched = site::keyword_match(kb->keywords, a, b, 0);
      double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
      double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      sink.add("keywords " + std::to_string(words), cost{wall, cpu, 0, matched == 0 ? 0 : 1});
    }
  }

  std::printf("\nmedians of %d interleaved rounds (ms):  %10s %10s\n", rounds, "wall", "cpu");
  for (const auto& [name, v] : s.seconds) {
    std::printf("  %-34s %10.1f %10.1f\n", name.c_str(), s.med(name) * 1e3, s.med_cpu(name) * 1e3);
  }

  // Each measure as a ratio of medians, of wall-clock time and of the
  // processes' own processor time (steadier on a busy machine).
  std::printf("\n%-58s %7s %7s %9s\n", "measure", "wall", "cpu", "goal");
  auto row = [&](const char* what, const std::string& a, const std::string& b, const char* goal) {
    std::printf("%-58s %7.2f %7.2f %9s\n", what, s.med(a) / s.med(b), s.med_cpu(a) / s.med_cpu(b),
                goal);
  };
  row("request at 10,000 vantles / I/O floor", "request 10000", "floor", "<= 3");
  // A save syncs the store before it replaces the old one; the floor's
  // copy does not, so the same floor with a synced copy is shown too.
  std::printf("%-58s %7.2f %7.2f %9s\n", "request at 10,000 vantles / floor with a synced copy",
              s.med("request 10000") /
                  (s.med("floor") - s.med("floor copy") + s.med("synced copy 10000")),
              s.med_cpu("request 10000") /
                  (s.med_cpu("floor") - s.med_cpu("floor copy") + s.med_cpu("synced copy 10000")),
              "");
  // Against the durable copy of the same site (see `durable_copy`).
  row("request for one vantle at 10,000 vantles / durable copy", "request 10000",
      "durable copy 10000", "<= 1.5");
  if (with_100k) {
    row("request for one vantle at 100,000 vantles / durable copy", "request 100000",
        "durable copy 100000", "<= 1.5");
  }
  // A save files a synced backup copy of the new store besides the synced
  // store itself: the least it can cost, its save floor, is the durable
  // copy and one more synced copy. What lies above that is the request's
  // own work.
  auto with_backup = [&](const char* what, const std::string& n, const std::string& which,
                         const char* goal) {
    const std::string name = "request " + n + which;
    std::printf("%-58s %7.2f %7.2f %9s\n", what,
                s.med(name) / (s.med("durable copy " + n) + s.med("synced copy " + n)),
                s.med_cpu(name) / (s.med_cpu("durable copy " + n) + s.med_cpu("synced copy " + n)),
                goal);
  };
  with_backup("request for one vantle at 10,000 / its save floor", "10000", "", "<= 1.2");
  if (!before.empty()) {
    with_backup("  the same, before", "10000", ", before", "");
  }
  if (with_100k) {
    with_backup("request for one vantle at 100,000 / its save floor", "100000", "", "<= 1.2");
    if (!before.empty()) with_backup("  the same, before", "100000", ", before", "");
  }
  if (!before.empty()) {
    row("request at 10,000, after / before", "request 10000", "request 10000, before", "");
    if (with_100k) {
      row("request at 100,000, after / before", "request 100000", "request 100000, before", "");
    }
  }
  row("request at 10,000 / at 1,000 vantles", "request 10000", "request 1000", "<= 10");
  const double mib = 1024.0 * 1024.0;
  auto peak_bytes = [&](const std::string& name) {
    return static_cast<double>(s.peak_kib[name]) * 1024.0;
  };
  const double peak = peak_bytes("request 10000");
  const double store = static_cast<double>(store_bytes);
  std::printf("%-58s %7.2f %7s %9s  (%.1f MiB peak; file.ic %.2f MiB: limit %.1f MiB)\n",
              "peak memory of the request at 10,000 / file.ic", peak / store, "", "<= 4x+10M",
              peak / mib, store / mib, (4.0 * store + 10 * mib) / mib);
  // The peak of a request against twice its store.
  auto peak_row = [&](const char* what, const std::string& name, uintmax_t bytes, double limit) {
    const double p = peak_bytes(name), b = static_cast<double>(bytes);
    char goal[16] = "";
    if (limit > 0) std::snprintf(goal, sizeof goal, "<= %g", limit);
    std::printf("%-58s %7.2f %7s %9s  (%.1f MiB peak; file.ic %.2f MiB", what, p / b, "", goal,
                p / mib, b / mib);
    if (limit > 0) std::printf(": limit %.1f MiB", limit * b / mib);
    std::printf(")\n");
  };
  // At 10,000 vantles the program's own memory is half the peak: the goal
  // there is the row above; this one is the ratio beside 100,000's.
  peak_row("peak memory of the request at 10,000 vantles / file.ic", "request 10000",
           store_bytes, 0);
  if (!before.empty()) peak_row("  the same, before", "request 10000, before", store_bytes, 0);
  if (with_100k) {
    peak_row("peak memory of the request at 100,000 vantles / file.ic", "request 100000",
             store_bytes_100k, 1.5);
    if (!before.empty()) {
      peak_row("  the same, before", "request 100000, before", store_bytes_100k, 0);
    }
  }
  row("save with 10,000 backups / with none (1,000 vantles)", "save, 10000 backups",
      "save, no backups", "<= 1.2");
  row("pick-up of 2,000 / 1,000 inbox files", "pick-up 2000", "pick-up 1000", "<= 2.2");
  row("pick-up of 1,000 inbox files / one request (1,000 vantles)", "pick-up 1000",
      "request 1000", "<= 10");
  row("form of 100,000 / 50,000 repeated fields", "form 100000", "form 50000", "~2");
  std::printf("%-58s %7.3f %7.3f %9s\n", "form of 100,000 repeated fields (s)",
              s.med("form 100000"), s.med_cpu("form 100000"), "< 0.5");
  row("vexil: one linked page 500 times / 500 linked pages", "vexil, one page 500 times",
      "vexil, 500 pages", "< 1");
  row("keyword matching, 8,000 / 4,000 words on each side", "keywords 8000", "keywords 4000",
      "~2");
  if (with_100k) {
    // Whether the restart with large pages still pays: below 1 it costs.
    row("request at 100,000, large pages off / on", "request 100000, large pages off",
        "request 100000", "");
    const double off = peak_bytes("request 100000, large pages off");
    const double on = peak_bytes("request 100000");
    std::printf("%-58s %7.2f %7s %9s  (off %.1f MiB, on %.1f MiB)\n",
                "peak memory at 100,000, large pages off / on", off / on, "", "", off / mib,
                on / mib);
  }

  if (keep.empty()) fs::remove_all(root);
  return 0;
}
