"""A signed release made as a release is made (./run.sh dist --sign) with a throw-away code-signing key
and certificate from openssl, then checked as someone who downloads it can check it:
  - osslsigncode verify succeeds with that certificate as the only CA, and finds the RFC 3161 time stamp
    of a time stamp server on loopback (openssl ts answering over HTTP: --timestamp without a network);
    SHA256SUMS passes sha256sum -c and names the unsigned build on a comment line;
  - osslsigncode remove-signature gives back the bytes of ./run.sh dist (unsigned) of the same commit;
  - the signed setup installs silently under Wine, and the uninstall.exe it installs verifies too;
  - a missing key, password or password file, and a wrong password, fail with a message that names the
    cause and leave no dist/ and no signed file beside the build.
Three clean builds, so it is ./run.sh dist-check and not part of ./run.sh test; it ends with the unsigned
release in dist/. Usage: signed_release.py TOP WORK (WORK holds the key and the signed release)."""
import hashlib
import http.server
import os
import shutil
import subprocess
import sys
import threading

sys.path.insert(0, os.environ["TOOLS"])
from wine_tools import *  # noqa: E402,F403

top, work = sys.argv[1], sys.argv[2]
check = Checks()
dist = os.path.join(top, "dist")
temp_signed = os.path.join(top, "build", "dist", "drovenhelm_setup.signed.exe")
keys = os.path.join(work, "keys")
signed_copy = os.path.join(work, "signed")
# Spaces, quotes and a dollar sign: the password must pass through the shell untouched.
PASSWORD = "throw away 'key' $1"
NAME = "Drovenhelm - Vessik Setup"


def sha256(path):
    return hashlib.sha256(read(path)).hexdigest()


def dist_run(name, *args, password=PASSWORD):
    """./run.sh dist with ARGS from the key folder (paths relative to it); password None leaves
    DROVENHELM_SIGN_PASSWORD unset. Returns (exit code, stderr); the whole output goes to WORK."""
    env = {k: v for k, v in os.environ.items() if k != "DROVENHELM_SIGN_PASSWORD"}
    if password is not None:
        env["DROVENHELM_SIGN_PASSWORD"] = password
    p = subprocess.run([os.path.join(top, "run.sh"), "dist", *args], cwd=keys, env=env,
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    with open(os.path.join(work, f"dist-{name}.log"), "w") as f:
        f.write(p.stdout + p.stderr)
    return p.returncode, p.stderr


def verify(exe):
    """osslsigncode verify with the throw-away certificate as the only CA and the time stamp server's
    certificate as the only TSA: the signature with its description, and the time stamp, are valid."""
    p = subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(keys, "cert.pem"),
                        "-TSA-CAfile", os.path.join(keys, "tsa.pem"), "-in", exe],
                       capture_output=True, text=True, errors="replace")
    ok = p.returncode == 0 and f"Text description: {NAME}" in p.stdout and \
        "Timestamp Server Signature verification: ok" in p.stdout
    return ok, p.stdout + p.stderr


def detail(ok, what, text):
    """A check whose line carries TEXT only when it failed."""
    return check(ok, what if ok else f"{what}\n{text[-2000:]}")


# An RFC 3161 time stamp server: openssl ts answers each request that osslsigncode posts.
TSA_CONFIG = """[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = serial
crypto_device = builtin
signer_cert = tsa.pem
signer_key = tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ess_cert_id_alg = sha256
"""


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        p = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                            "-out", "/dev/stdout"], cwd=keys, input=query, capture_output=True)
        self.send_response(200 if p.returncode == 0 and p.stdout else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(p.stdout)))
        self.end_headers()
        self.wfile.write(p.stdout)

    def log_message(self, *args):
        pass


def remove_signature(exe, out):
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["osslsigncode", "remove-signature", "-in", exe, "-out", out], capture_output=True)
    return read(out) if os.path.exists(out) else b""


def sums(folder):
    """sha256sum -c in the folder passes; its comment lines."""
    ok = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=folder, capture_output=True).returncode == 0
    return ok, [line for line in open(os.path.join(folder, "SHA256SUMS")).read().splitlines() if line.startswith("#")]


# --- a throw-away key: a self-signed code-signing certificate in a password-protected PKCS#12 file --
shutil.rmtree(keys, ignore_errors=True)
os.makedirs(keys)
with open(os.path.join(keys, "wrong.txt"), "w") as f:
    f.write("not " + PASSWORD + "\n")
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "7",
                "-subj", "/CN=Drovenhelm throw-away signer", "-addext", "keyUsage=critical,digitalSignature",
                "-addext", "extendedKeyUsage=codeSigning", "-keyout", "key.pem", "-out", "cert.pem"],
               cwd=keys, check=True, capture_output=True)
subprocess.run(["openssl", "pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "key.pfx",
                "-passout", "env:PFX_PASSWORD"], cwd=keys, check=True, capture_output=True,
               env=dict(os.environ, PFX_PASSWORD=PASSWORD))
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "7",
                "-subj", "/CN=Drovenhelm throw-away time stamps", "-addext", "keyUsage=critical,digitalSignature",
                "-addext", "extendedKeyUsage=critical,timeStamping", "-keyout", "tsa.key", "-out", "tsa.pem"],
               cwd=keys, check=True, capture_output=True)
with open(os.path.join(keys, "tsa.cnf"), "w") as f:
    f.write(TSA_CONFIG)
with open(os.path.join(keys, "serial"), "w") as f:
    f.write("01\n")
tsa = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
threading.Thread(target=tsa.serve_forever, daemon=True).start()
tsa_url = f"http://127.0.0.1:{tsa.server_address[1]}/"

# --- the signed release ---------------------------------------------------------------------------
rc, err = dist_run("signed", "--sign", "key.pfx", "--timestamp", tsa_url)
if not detail(rc == 0, "./run.sh dist --sign key.pfx (relative to the caller's folder) --timestamp exits 0", err):
    check.finish()
shutil.rmtree(signed_copy, ignore_errors=True)
shutil.copytree(dist, signed_copy)
signed = os.path.join(signed_copy, "drovenhelm_setup.exe")
shipped = sorted(os.listdir(signed_copy))
libraries = [n for n in shipped if n.startswith("LICENSE-")]
check(sorted(set(shipped) - set(libraries)) == ["LICENSE.txt", "README.txt", "SHA256SUMS", "drovenhelm_setup.exe"]
      and libraries, f"the signed release holds the setup, README.txt, LICENSE.txt, the libraries' licences and "
      f"SHA256SUMS: {shipped}")
ok, said = verify(signed)
detail(ok, "osslsigncode verify of the signed setup: its signature and time stamp", said)
ok, comments = sums(signed_copy)
check(ok, "sha256sum -c SHA256SUMS passes in the signed release")
check(not os.path.exists(temp_signed), "no signed file is left beside the build")

# --- the signed setup under Wine ------------------------------------------------------------------
target = os.path.join(DRIVE_C, "dvsigned")
shutil.rmtree(target, ignore_errors=True)
rc, _, _ = run_exe(signed, "/silent", "/cd", winpath(os.path.join(TESTDATA, "gamecd", "gamecd.iso")),
                   "/dir", "C:\\dvsigned", timeout=300)
log = setup_log() or []
check(rc == 0 and log[-1:] == ["Done."], f"the signed setup installs silently: exit code {rc}, log ends {log[-2:]}")
uninstaller = os.path.join(target, "uninstall.exe")
check(os.path.exists(uninstaller) and read(uninstaller) == read(signed), "the installed uninstall.exe is the signed setup")
ok, said = verify(uninstaller) if os.path.exists(uninstaller) else (False, "missing")
detail(ok, "osslsigncode verify of the installed uninstall.exe", said)

# --- failures: each leaves no release and no signed file ------------------------------------------
failures = [
    # name, arguments, DROVENHELM_SIGN_PASSWORD, what the message must name
    ("missing_key", ("--sign", "nokey.pfx"), PASSWORD, "nokey.pfx does not exist"),
    ("no_password", ("--sign", "key.pfx"), None, "DROVENHELM_SIGN_PASSWORD"),
    ("missing_password_file", ("--sign", "key.pfx", "--pass-file", "nopass.txt"), PASSWORD, "nopass.txt does not exist"),
    # The right password in the environment: the file given on the command line wins.
    ("wrong_password", ("--sign", "key.pfx", "--pass-file", "wrong.txt"), PASSWORD, "wrong password"),
]
for name, args, password, message in failures:
    rc, err = dist_run(name, *args, password=password)
    detail(rc != 0 and message in err, f"{name}: dist fails naming the cause ({message!r}): exit code {rc}", err)
    check(not os.path.exists(dist) and not os.path.exists(temp_signed), f"{name}: no dist/ and no signed file left")

# --- the password from a file, with a line end after it; a wrong one in the environment: the file wins
with open(os.path.join(keys, "right.txt"), "w") as f:
    f.write(PASSWORD + "\n")
rc, err = dist_run("pass_file", "--sign", "key.pfx", "--pass-file", "right.txt", "--timestamp", tsa_url,
                   password="not " + PASSWORD)
ok, said = verify(os.path.join(dist, "drovenhelm_setup.exe")) if rc == 0 else (False, err)
detail(ok, f"--pass-file with the right password (a wrong one in the environment): signed and verified, "
       f"exit code {rc}", said)

# --- the unsigned release of the same commit, as anyone builds it -----------------------------------
rc, err = dist_run("unsigned")
detail(rc == 0, "./run.sh dist exits 0", err)
unsigned = os.path.join(dist, "drovenhelm_setup.exe")
ok, plain_comments = sums(dist)
check(ok and plain_comments == [], "the unsigned release's SHA256SUMS passes sha256sum -c and has no comment")
check(remove_signature(signed, os.path.join(work, "stripped.exe")) == read(unsigned),
      "osslsigncode remove-signature of the signed setup gives the unsigned release's setup byte for byte")
want = f"# {sha256(unsigned)}  drovenhelm_setup.exe without its signature (osslsigncode remove-signature)"
check(comments == [want], f"the signed release's SHA256SUMS names the unsigned setup on a comment line: {comments}")
check.finish()
