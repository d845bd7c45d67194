// `orvsite new`: lays out a site directory from the installed programs and
// samples (or from given files), or refreshes the programs, pages and
// scripts of an existing site while keeping its data.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace orvsite {

/// Where a layout takes its files from.
struct sources {
  std::string programs;  // holds the built orv and vexil
  std::string samples;   // site.config, kb.txt, *.in, transfer scripts, html/zoaml/
  std::string images;    // the images the sample pages show
};

/// The sources of an installed orvsite (programs in its libexec directory,
/// samples in its data directory, both found relative to the running
/// program) or, for the program of a build tree, the programs beside it and
/// the samples of the source tree. Nothing, with `*err`, when neither is
/// there.
std::optional<sources> find_sources(std::string* err);

/// The thresholds `orvsite new` writes into a new site's config.txt, those
/// of the sample sites. A retrieval threshold of 1 lets a query's keyword
/// match a vantle's keyword, its parent, its children and its siblings in
/// kb.txt (0, what the manager itself writes into a site without
/// config.txt, matches equal keywords only, so a query in other words than
/// the vantles' own is never answered). Sites nearer than the distance
/// threshold are queried; a query keeps at most the maximum-vantles
/// threshold of answers.
inline constexpr int new_site_retrieval_threshold = 1;
inline constexpr int new_site_distance_threshold = 9;
inline constexpr int new_site_max_vantles = 3;

/// The second of the minute (0 to 59) at which the site `orv_id`'s
/// exchange runs when cron starts it every minute: a hash of the orv id,
/// so the sites of a mesh whose machines' clocks agree do not all send and
/// pick up at the same moment (a query would then wait a whole minute more
/// at every site it passes).
int exchange_second(const std::string& orv_id);

/// The line of /etc/cron.d that runs the exchange of the site `dir` (made
/// absolute) every minute, at `exchange_second(orv_id)`, as the user
/// www-data with the orvsite at `orvsite`.
std::string cron_line(const std::string& orvsite, const std::string& dir,
                      const std::string& orv_id);

struct new_options {
  std::string dir;                         // the site directory
  std::string server_id;                   // for config.txt (new sites)
  std::string orv_id;                      // for config.txt and the pages
  std::optional<std::string> from;         // other samples directory
  std::optional<std::string> site_config;  // site.config to use
  std::optional<std::string> kb;           // kb.txt to use
  bool update = false;                     // refresh an existing site
};

/// True when `id` can be a server or orv id: one word of letters, digits,
/// "_", "-" and ".", not beginning with ".", at most 49 characters (orv ids
/// name the message files of other sites' inboxes).
bool valid_id(const std::string& id);

/// Lays out (or with `update` refreshes) the site `o.dir` from `src`, under
/// the site's run lock. A new site gets `html/` with config.txt (the given
/// ids, the thresholds above), site.config and kb.txt (checked with the
/// programs' readers), the fg functions files, the transfer scripts and the
/// pages (with @ORV_ID@ and @SERVER_ID@ replaced), the images, vexil as
/// vexil.cgi and orv under every manager name the pages use. A directory
/// that holds `html` already is refused unless `update` is set; an update
/// replaces programs, fg functions files, pages, scripts and images and,
/// when given, site.config and kb.txt, and keeps everything else. The
/// transfer scripts are the local ones, or, for a site that holds the
/// SSH link-in script (orv_ssh_link.sh), the SSH ones with the forced
/// command. Prints what it did and the site's cron line on `out`. Returns
/// 0, or 1 with the reason on `err`.
int new_site(const new_options& o, const sources& src, std::ostream& out, std::ostream& err);

}  // namespace orvsite
