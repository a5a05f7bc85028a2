#!/usr/bin/env python3
"""Signed updates end to end over TLS, as an operator would run them.

A test certificate authority, made here and trusted only inside the tests' Wine prefix, signs
nginx's certificate on 127.0.0.1. The pack is published with talvora-publish (or signed with
stock openssl), and the launcher's probes, built trusting the two test keys of the build tree,
run whole update runs and a whole self-update against it. Every refusal must leave the
installation exactly as it was, with no file requested.

usage: signed_update_test.py WINE_RUN PUBLISH KEY_DIR UPDATE_PROBE SIGNED_SELFUPDATE_PROBE
                             SELFUPDATE_PROBE_V2 TRUST_TEST_CA
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from with_nginx import NginxServer  # noqa: E402
from with_server import wine_path  # noqa: E402
from script_checks import check, read, summary, write  # noqa: E402

(wine_run, publish, key_dir, update_probe, selfupdate_probe, probe_v2,
 trust_ca) = sys.argv[1:8]
KEY1, KEY2 = (os.path.join(key_dir, "update-%d.pem" % n) for n in (1, 2))

UPDATED, FAILED = "5", "6"
NOT_AUTHENTIC = "A frissítési lista hitelesítése sikertelen."
UNREACHABLE = "Nem sikerült elérni a frissítőszervert. Ellenőrizd az internetet."


def run(*command, **kwargs):
    return subprocess.run(list(command), check=True, capture_output=True, **kwargs)


def make_ca(work, name):
    key, cert = (os.path.join(work, name + ext) for ext in (".key", ".pem"))
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=Talvora test " + name,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("openssl", "x509", "-in", cert, "-outform", "DER", "-out", cert + ".der")
    return key, cert


def make_server_cert(work, ca):
    ca_key, ca_cert = ca
    key, csr, cert, ext = (os.path.join(work, os.path.basename(ca_cert) + s)
                           for s in (".server.key", ".csr", ".server.pem", ".ext"))
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n"
                "basicConstraints=CA:FALSE\n")
    run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
        "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
        "-CAcreateserial", "-days", "2", "-out", cert, "-extfile", ext)
    return cert, key


def listing(folder):
    return sorted((os.path.relpath(os.path.join(d, n), folder), read(os.path.join(d, n)))
                  for d, _, names in os.walk(folder) for n in names)


def openssl_sign(key, path):
    run("openssl", "dgst", "-sha256", "-sign", key, "-out", path + ".sig", path)


def requests(server):
    with open(server.log) as f:
        return [json.loads(line)["path"] for line in f if line.strip()]


def update_run(server, work, name, stale):
    """One update run into a fresh installation holding `stale`; (phase, line, before, after,
    paths requested)."""
    install = os.path.join(work, "install-" + name)
    for rel, data in stale.items():
        write(os.path.join(install, rel), data)
    before = listing(install)
    seen = len(requests(server))
    result = os.path.join(work, "result-" + name)
    run(wine_run, update_probe, server.url + "/pack/patch_manifest.txt", wine_path(install),
        wine_path(result))
    phase, _, line = read(result).decode("utf-8").partition("\n")
    return phase, line, before, listing(install), requests(server)[seen:]


def expect_refused(server, work, name, stale, line=NOT_AUTHENTIC):
    phase, text, before, after, paths = update_run(server, work, name, stale)
    check(phase == FAILED and text == line, "%s: ended %s %r" % (name, phase, text))
    check(before == after, name + ": the installation changed")
    check(not any("/pack/client/" in p for p in paths), name + ": files were requested: %s" % paths)


def self_update(server, work, name):
    """The signed v1 probe installed as Talvora.exe, started once; (runs, exe bytes, paths)."""
    install = os.path.join(work, "selfupdate-" + name)
    exe = os.path.join(install, "Talvora.exe")
    write(exe, read(selfupdate_probe))
    seen = len(requests(server))
    env = dict(os.environ, TALVORA_PROBE_VERSION_URL=server.url + "/pack/launcher_version.txt")
    run(wine_run, exe, env=env)
    runs_file = os.path.join(install, "probe-runs.txt")
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and not os.path.exists(runs_file):
        time.sleep(0.1)
    time.sleep(0.5)  # the handed-over build may still be writing
    runs = read(runs_file).decode() if os.path.exists(runs_file) else ""
    return runs, read(exe), requests(server)[seen:]


def main():
    work = tempfile.mkdtemp(prefix="talvora-signed-")
    os.chmod(work, 0o755)  # nginx's workers may run as another user
    trusted_ca = make_ca(work, "trusted-ca")
    unknown_ca = make_ca(work, "unknown-ca")
    foreign_key = os.path.join(work, "foreign.pem")
    run("openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", foreign_key)

    root = os.path.join(work, "root")
    pack = os.path.join(root, "pack")
    files = {"a.bin": os.urandom(200_000), "b.bin": b"beta\n"}
    client = os.path.join(work, "client")
    for rel, data in files.items():
        write(os.path.join(client, rel), data)
    write(os.path.join(pack, "client", "placeholder"), b"")
    stale = {"a.bin": b"old a\n", "keep.txt": b"the player's\n"}

    servers = []
    run(wine_run, trust_ca, "add", wine_path(trusted_ca[1] + ".der"))
    try:
        for ca in (trusted_ca, unknown_ca):
            servers.append(NginxServer(root, tempfile.mkdtemp(dir=work),
                                       make_server_cert(work, ca)).start())
        server, untrusted = servers
        for rel, data in files.items():
            write(os.path.join(pack, "client", rel), data)
        manifest = os.path.join(pack, "patch_manifest.txt")

        def publish_manifest(*signing):
            run(publish, "manifest", client, "--base", server.url + "/pack/client/",
                "--version", "7", "--out", manifest, *signing)

        # Signed by the publisher with the first key, with an expiry a month ahead.
        publish_manifest("--sign-key", KEY1, "--expires", "30d")
        phase, text, _, after, paths = update_run(server, work, "signed", stale)
        check(phase == UPDATED, "signed run ended %s %r" % (phase, text))
        check(dict(after) == dict(files, **{"keep.txt": stale["keep.txt"]}),
              "signed run: installation not as published")
        check("/pack/patch_manifest.txt.sig" in paths, "signed run: no signature fetched")

        # The same bytes with one changed; a signature by a key the launcher does not know;
        # no signature at all.
        good = read(manifest)
        write(manifest, good.replace(b"VERSION\t7", b"VERSION\t8"))
        expect_refused(server, work, "altered", stale)
        write(manifest, good)
        openssl_sign(foreign_key, manifest)
        expect_refused(server, work, "foreign-key", stale)
        os.remove(manifest + ".sig")
        expect_refused(server, work, "unsigned", stale)

        # A captured file past its EXPIRES moment, properly signed with a trusted key.
        publish_manifest()
        plain = read(manifest)
        first = plain.index(b"\n") + 1
        write(manifest, plain[:first] + b"EXPIRES\t2020-01-01T00:00:00Z\n" + plain[first:])
        openssl_sign(KEY1, manifest)
        expect_refused(server, work, "expired", stale)

        # Rotation, and stock openssl as the signer: the second built-in key.
        write(manifest, plain)
        openssl_sign(KEY2, manifest)
        phase, text, _, after, _ = update_run(server, work, "rotated", stale)
        check(phase == UPDATED and dict(after)["a.bin"] == files["a.bin"],
              "rotated key: ended %s %r" % (phase, text))

        # A certificate from an authority the prefix does not trust: an unreachable server.
        expect_refused(untrusted, work, "unknown-ca", stale, UNREACHABLE)

        # The self-update: a signed version file hands over to v2 ...
        v2 = read(probe_v2)
        write(os.path.join(pack, "Talvora-v2.exe"), v2)
        version_file = os.path.join(pack, "launcher_version.txt")
        run(publish, "launcher", os.path.join(pack, "Talvora-v2.exe"), "--version", "2", "--url",
            server.url + "/pack/Talvora-v2.exe", "--out", version_file, "--sign-key", KEY1,
            "--expires", "2d")
        runs, exe, paths = self_update(server, work, "signed")
        check(runs == "v2\n" and exe == v2, "signed self-update: runs %r" % runs)
        # ... and one signed by an unknown key is not even followed.
        openssl_sign(foreign_key, version_file)
        runs, exe, paths = self_update(server, work, "foreign-key")
        check(runs == "v1\n" and exe == read(selfupdate_probe),
              "foreign-key self-update: runs %r" % runs)
        check("/pack/Talvora-v2.exe" not in paths, "foreign-key self-update fetched the build")
    finally:
        for s in servers:
            s.stop()
        subprocess.run([wine_run, trust_ca, "remove", wine_path(trusted_ca[1] + ".der")],
                       capture_output=True)
        shutil.rmtree(work, ignore_errors=True)
    return summary("signed updates")


if __name__ == "__main__":
    sys.exit(main())
