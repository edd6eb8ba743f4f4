"""The set-up script's source-fetching and build steps, run in a sandbox: a
temporary HOME and apt directory, and a stub apt-get first on PATH that
chatters on standard output the way the real one does. Nothing here touches
the machine's apt configuration or the real dependency cache."""

import os
import pathlib
import subprocess
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SETUP = ROOT / "scripts" / "setup.sh"
NOISE = "Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]\nReading package lists...\n"

STUB_APT_GET = textwrap.dedent("""\
    #!/bin/bash
    echo "$*" >> "$STUB_CALLS"
    printf '%s' "$STUB_NOISE"
    case "$1" in
      update)
        if [[ -n "${STUB_UPDATE_FAILS:-}" ]]; then
          echo "E: The repository 'http://deb.debian.org/debian bookworm Release' does not have a Release file." >&2
          exit 100
        fi ;;
      source)
        [[ -n "${STUB_SOURCE_EMPTY:-}" ]] && exit 0
        mkdir -p "$2-1.2.3"
        printf '#!/bin/sh\\n' > "$2-1.2.3/configure"
        chmod +x "$2-1.2.3/configure"
        touch "$2_1.2.3.dsc" "$2_1.2.3.orig.tar.xz" ;;
    esac
    """)

DEB822 = textwrap.dedent("""\
    Types: deb
    # http://snapshot.debian.org/archive/debian/20250520T000000Z
    URIs: http://deb.debian.org/debian
    Suites: bookworm bookworm-updates
    Components: main
    Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

    Types: deb
    URIs: http://deb.debian.org/debian-security
    Suites: bookworm-security
    Components: main
    """)

ONE_LINE = textwrap.dedent("""\
    # deb cdrom:[Debian GNU/Linux 12]/ bookworm main
    deb http://deb.debian.org/debian bookworm main
    deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
    """)


class Sandbox:
    def __init__(self, root):
        self.root = root
        self.home = root / "home"
        self.apt = root / "etc" / "apt"
        self.calls = root / "apt-get-calls"
        self.deps = self.home / ".cache" / "framepump-cuewatch-deps"
        bin_dir = root / "bin"
        for d in (self.home, self.apt / "sources.list.d", bin_dir):
            d.mkdir(parents=True)
        stub = bin_dir / "apt-get"
        stub.write_text(STUB_APT_GET)
        stub.chmod(0o755)
        self.calls.touch()
        self.env = dict(os.environ, HOME=str(self.home), STUB_CALLS=str(self.calls),
                        STUB_NOISE=NOISE, PATH=f"{bin_dir}:{os.environ['PATH']}")

    def run(self, commands, **stub):
        """Sources the script (which then runs nothing by itself) and runs
        the given shell commands with its functions."""
        script = f'source "{SETUP}"\nAPT_ETC="{self.apt}"\n{commands}\n'
        env = dict(self.env, **stub)
        return subprocess.run(["bash", "-c", script], env=env, capture_output=True,
                              text=True, timeout=60)

    def apt_calls(self):
        return self.calls.read_text().splitlines()


@pytest.fixture
def sandbox(tmp_path):
    return Sandbox(tmp_path)


FETCH = 'fetch_source ffmpeg src\nprintf "%s" "$src" > "$HOME/result"'


@pytest.mark.parametrize("sources_file,content,src_file,expected_lines", [
    ("sources.list.d/debian.sources", DEB822, "sources.list.d/debian-src.sources",
     ["Types: deb-src", "URIs: http://deb.debian.org/debian",
      "Types: deb-src", "URIs: http://deb.debian.org/debian-security"]),
    ("sources.list", ONE_LINE, "sources.list.d/debian-src.list",
     ["deb-src http://deb.debian.org/debian bookworm main",
      "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
      "http://deb.debian.org/debian-security bookworm-security main"]),
], ids=["deb822", "one-line"])
def test_first_fetch_on_a_fresh_machine_gives_a_clean_path(
        sandbox, sources_file, content, src_file, expected_lines):
    (sandbox.apt / sources_file).write_text(content)
    result = sandbox.run(FETCH)
    assert result.returncode == 0, result.stderr
    source_dir = sandbox.deps / "src" / "ffmpeg-1.2.3"
    assert (sandbox.home / "result").read_text() == str(source_dir)
    assert (source_dir / "configure").is_file() and (source_dir / ".unpacked").is_file()
    # apt's chatter went nowhere near standard output or the value.
    assert "Get:1" not in result.stdout
    written = (sandbox.apt / src_file).read_text().splitlines()
    assert [l for l in written if l.startswith(("Types", "URIs", "deb"))] == expected_lines
    assert sandbox.apt_calls() == ["update", "source ffmpeg"]


def test_existing_deb_src_entries_are_left_alone(sandbox):
    (sandbox.apt / "sources.list.d" / "debian.sources").write_text(
        DEB822.replace("Types: deb\n", "Types: deb deb-src\n"))
    result = sandbox.run(FETCH)
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in (sandbox.apt / "sources.list.d").iterdir()) == ["debian.sources"]
    assert sandbox.apt_calls() == ["source ffmpeg"]


def test_an_interrupted_fetch_is_fetched_again(sandbox):
    (sandbox.apt / "sources.list.d" / "debian.sources").write_text(DEB822)
    src = sandbox.deps / "src"
    half = src / "ffmpeg-1.2.3"
    half.mkdir(parents=True)
    (half / "half-unpacked.c").touch()
    (src / ".fetch-ffmpeg" / "ffmpeg-1.2.3").mkdir(parents=True)
    result = sandbox.run(FETCH)
    assert result.returncode == 0, result.stderr
    assert (sandbox.home / "result").read_text() == str(half)
    assert sorted(p.name for p in half.iterdir()) == [".unpacked", "configure"]
    assert not (src / ".fetch-ffmpeg").exists()


def test_a_finished_fetch_is_not_repeated(sandbox):
    done = sandbox.deps / "src" / "ffmpeg-1.2.3"
    done.mkdir(parents=True)
    (done / ".unpacked").touch()
    result = sandbox.run(FETCH)
    assert result.returncode == 0, result.stderr
    assert (sandbox.home / "result").read_text() == str(done)
    assert sandbox.apt_calls() == []


@pytest.mark.parametrize("commands,stub,sources,message,log_line", [
    # apt-get source that unpacks nothing: a plain message, no path made up.
    (FETCH, {"STUB_SOURCE_EMPTY": "1"}, DEB822,
     "setup: apt-get source ffmpeg left 0 source folders instead of one", None),
    (FETCH, {"STUB_UPDATE_FAILS": "1"}, DEB822,
     "setup: apt-get update (deb-src entries) failed",
     "does not have a Release file"),
    (FETCH, {}, "", "setup: no Debian entries in", None),
    ('mkdir -p "$HOME/src"\n'
     "printf '#!/bin/sh\\necho \"ERROR: nasm not found\"\\nexit 1\\n' > \"$HOME/src/configure\"\n"
     'chmod +x "$HOME/src/configure"\nbuild_ffmpeg x86_64 "$HOME/src"',
     {}, DEB822, "setup: configuring FFmpeg for x86_64 failed", "ERROR: nasm not found"),
    ('build_ffmpeg x86_64 ""', {}, DEB822, "setup: no FFmpeg configure script in ''", None),
], ids=["source-unpacks-nothing", "update-fails", "no-debian-sources",
        "configure-fails", "empty-source-path"])
def test_a_failing_step_says_which_and_shows_its_log(
        sandbox, commands, stub, sources, message, log_line):
    (sandbox.apt / "sources.list.d" / "debian.sources").write_text(sources)
    result = sandbox.run(commands, **stub)
    assert result.returncode == 1
    assert message in result.stderr
    if log_line:
        assert log_line in result.stderr
    assert not (sandbox.home / "result").exists()
    # Nothing was marked done, anywhere.
    marks = list(sandbox.root.rglob(".unpacked")) + list(sandbox.root.rglob(".ffmpeg-done"))
    assert marks == []
