// The demo sites behind a real lighttpd: a fresh layout (scripts/demo_layout.sh)
// in a temporary directory, served on a free loopback port.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const repo_root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..', '..');

/// The build tree whose bin/ holds the programs (BUILD_DIR, default build).
export function build_dir() {
  return path.resolve(repo_root, process.env.BUILD_DIR || 'build');
}

/// Where screenshots go (BROWSER_ARTIFACTS, default <build>/browser-artifacts).
export function artifacts_dir() {
  const dir = path.resolve(process.env.BROWSER_ARTIFACTS || path.join(build_dir(), 'browser-artifacts'));
  fs.mkdirSync(dir, { recursive: true });
  return dir;
}

function lighttpd_path() {
  for (const dir of (process.env.PATH || '').split(':').concat(['/usr/sbin', '/sbin'])) {
    const candidate = path.join(dir || '.', 'lighttpd');
    try {
      fs.accessSync(candidate, fs.constants.X_OK);
      return candidate;
    } catch {
      // not here
    }
  }
  throw new Error('lighttpd is not installed (bash scripts/deps.sh browser)');
}

// A port that nothing listens on now: the kernel's pick for port 0.
function free_port() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.unref();
    srv.on('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

function accepts(port) {
  return new Promise((resolve) => {
    const sock = net.connect({ host: '127.0.0.1', port });
    sock.once('connect', () => {
      sock.destroy();
      resolve(true);
    });
    sock.once('error', () => resolve(false));
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/// One laid-out demo with its running server.
export class demo_server {
  constructor(dir, port, proc) {
    this.dir = dir; // the demo directory (lighttpd.conf, error.log, www/)
    this.port = port; // the loopback port lighttpd listens on
    this.proc = proc; // the lighttpd process
    this.exit_code = null; // set when lighttpd ends
    proc.on('exit', (code, signal) => {
      this.exit_code = code ?? signal;
    });
  }

  /// The address of a path below the document root.
  url(rel = '') {
    return `http://127.0.0.1:${this.port}/${rel}`;
  }

  /// The start page.
  start_url() {
    return this.url('vexil.cgi?zoa_name=start');
  }

  /// A file of a site's html directory (north, east, south).
  site_file(site, ...name) {
    return path.join(this.dir, 'www', site, 'html', ...name);
  }

  read_site_file(site, ...name) {
    return fs.readFileSync(this.site_file(site, ...name), 'latin1');
  }

  /// A site's file read as UTF-8.
  read_site_text(site, ...name) {
    return fs.readFileSync(this.site_file(site, ...name), 'utf8');
  }

  /// Writes a file below a site's html directory, making its directory
  /// (inbox and outbox appear with the site's first request otherwise).
  write_site_file(site, dir, name, text) {
    fs.mkdirSync(this.site_file(site, dir), { recursive: true });
    fs.writeFileSync(this.site_file(site, dir, name), text);
  }

  /// The files of a site's directory, sorted; [] when it does not exist.
  list_site_dir(site, name) {
    try {
      return fs.readdirSync(this.site_file(site, name)).sort();
    } catch {
      return [];
    }
  }

  /// Lays the demo out again in place, as a restarted scripts/demo.sh does
  /// (`sites`: the SITES it is given, if any).
  lay_out_again(sites) {
    lay_out(this.dir, this.port, sites);
  }

  running() {
    return this.exit_code === null;
  }

  error_log() {
    try {
      return fs.readFileSync(path.join(this.dir, 'error.log'), 'utf8');
    } catch {
      return '';
    }
  }

  /// Stops lighttpd and removes the demo (KEEP_DEMO=1 keeps it to look at).
  async stop() {
    if (this.running()) {
      const ended = new Promise((resolve) => this.proc.once('exit', resolve));
      this.proc.kill('SIGTERM');
      await Promise.race([ended, sleep(5000)]);
      if (this.running()) this.proc.kill('SIGKILL');
    }
    if (process.env.KEEP_DEMO === '1') {
      console.log(`# demo kept in ${this.dir}`);
    } else {
      fs.rmSync(this.dir, { recursive: true, force: true });
    }
  }
}

// Runs scripts/demo_layout.sh for a demo directory and port, with the
// sites named by `sites` (SITES) when given.
function lay_out(dir, port, sites, auth) {
  const env = { ...process.env, BUILD_DIR: build_dir(), DEMO_DIR: dir, PORT: String(port) };
  if (sites) env.SITES = sites;
  else delete env.SITES;
  if (auth) env.AUTH = auth;
  else delete env.AUTH;
  execFileSync('bash', [path.join(repo_root, 'scripts', 'demo_layout.sh')], {
    env,
    stdio: ['ignore', 'ignore', 'inherit'],
  });
}

/// Lays out a fresh demo and serves it; a port taken between the pick and
/// the start is given up for another. `sites` (SITES) names the sites;
/// `auth` (AUTH, user:password) puts the site programs behind a password.
export async function start_demo(sites, auth) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orv-demo-'));
  const lighttpd = lighttpd_path();
  let last_error = '';
  for (let attempt = 0; attempt < 5; ++attempt) {
    const port = await free_port();
    lay_out(dir, port, sites, auth);
    const proc = spawn(lighttpd, ['-D', '-f', path.join(dir, 'lighttpd.conf')], {
      stdio: ['ignore', 'ignore', 'pipe'],
    });
    let stderr = '';
    proc.stderr.on('data', (chunk) => {
      stderr += chunk;
    });
    const server = new demo_server(dir, port, proc);
    for (let i = 0; i < 100 && server.running(); ++i) {
      if (await accepts(port)) return server;
      await sleep(50);
    }
    last_error = `lighttpd on port ${port}: ${stderr || server.error_log() || 'did not start'}`;
    if (server.running()) {
      proc.kill('SIGKILL');
      await new Promise((resolve) => proc.once('exit', resolve));
    }
  }
  fs.rmSync(dir, { recursive: true, force: true });
  throw new Error(last_error);
}
