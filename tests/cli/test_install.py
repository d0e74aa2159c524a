"""The installed tree: castora, its man page and its bash and zsh completions, which must keep up
with every option the help text names and every key the catalogues and the sample config use."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import CASTORA, require_tools, run_castora

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BUILD = os.path.dirname(os.path.abspath(CASTORA))
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"


def help_options():
    return re.findall(r"^  (--?[a-z][a-z-]*)", run_castora(["--help"]).stdout, re.M)


def listed_keys(option):
    """Keys of --list-profiles / --list-scenes: the first field of every "key | ..." line."""
    return [line.split(" | ")[0] for line in run_castora([option]).stdout.splitlines() if " | " in line]


def names(text, word):
    return re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text) is not None


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="castora-install-")
        cls.installed = shutil.which("cmake") is not None and os.path.exists(
            os.path.join(BUILD, "cmake_install.cmake"))
        if cls.installed:
            prefix = os.path.join(cls.work, "prefix")
            subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                           check=True, capture_output=True, timeout=120)
            cls.binary = os.path.join(prefix, "bin", "castora")
            cls.man = os.path.join(prefix, "share", "man", "man1", "castora.1")
            cls.bash = os.path.join(prefix, "share", "bash-completion", "completions", "castora")
            cls.zsh = os.path.join(prefix, "share", "zsh", "site-functions", "_castora")
        else:  # a binary outside a CMake build tree: check the sources instead
            cls.binary = CASTORA
            cls.man = os.path.join(SOURCE, "docs", "castora.1")
            cls.bash = os.path.join(SOURCE, "completions", "castora.bash")
            cls.zsh = os.path.join(SOURCE, "completions", "_castora")
        cls.options = help_options()
        cls.profiles = listed_keys("--list-profiles")
        cls.scenes = listed_keys("--list-scenes")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def read(self, path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    def test_the_lists_this_suite_relies_on_are_not_empty(self):
        self.assertEqual(len(self.options), 39)
        self.assertEqual(len(self.profiles), 4)
        self.assertEqual(len(self.scenes), 6)

    def test_installed_program_runs(self):
        if not self.installed:
            self.skipTest("no CMake build tree beside CASTORA_BIN")
        r = run_castora(["--version"], program=self.binary)
        self.assertEqual((r.status, r.stdout), (0, "Brevalo Castora Native 0.2.1\n"))

    def test_man_page_and_completions_name_every_help_option(self):
        # In roff a hyphen is written \- and fonts are switched with \fX.
        man = re.sub(r"\\f[BIRP]", "", self.read(self.man)).replace("\\-", "-")
        for label, text in (("man", man), ("bash", self.read(self.bash)), ("zsh", self.read(self.zsh))):
            with self.subTest(label):
                self.assertEqual([o for o in self.options if not names(text, o)], [])
                self.assertEqual([k for k in self.profiles + self.scenes if not names(text, k)], [])

    def test_man_page_renders_without_warnings(self):
        require_tools("man", "groff")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "MANWIDTH": "80",
               "MANPAGER": "cat", "PAGER": "cat"}
        r = subprocess.run(["man", "--warnings=w", "-l", self.man], capture_output=True, text=True,
                           env=env, timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        page = r.stdout
        for section in ("NAME", "SYNOPSIS", "OPTIONS", "CONFIGURATION FILE", "TARGET FILE", "EXIT STATUS",
                        "FILES", "EXAMPLES"):
            self.assertRegex(page, re.compile("^" + section + "$", re.M))
        self.assertEqual([o for o in self.options if not names(page, o)], [])
        self.assertEqual([line for line in page.splitlines() if len(line) > 80], [])
        # Every key of the sample config is documented.
        sample = os.path.join(self.work, "sample.conf")
        self.assertEqual(run_castora(["--write-sample-config", sample]).status, 0)
        keys = re.findall(r"^(\w+)=", self.read(sample), re.M)
        self.assertGreater(len(keys), 20)
        self.assertEqual([k for k in keys if not names(page, k)], [])

    def complete(self, words, with_bash_completion=False):
        """What the bash completion offers for the last of `words` (castora is prepended)."""
        words = ["castora", *words]
        script = (f"source {BASH_COMPLETION}\n" if with_bash_completion else "") + (
            'source "$1"; shift\n'
            'spec=$(complete -p castora) && function=${spec##*-F } && function=${function%% *}\n'
            'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_POINT=${#COMP_LINE}\n'
            '"$function" castora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"\n'
            'printf "%s\\n" "${COMPREPLY[@]}"\n')
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "COMP_LINE": " ".join(words)}
        r = subprocess.run(["bash", "--norc", "--noprofile", "-c", script, "bash", self.bash, *words],
                           capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL,
                           cwd=self.work, env=env)
        self.assertEqual((r.returncode, r.stderr), (0, ""), words)
        return sorted(word for word in r.stdout.split("\n") if word)

    def test_bash_completion_offers_keys_options_and_paths(self):
        require_tools("bash")
        files = os.path.join(self.work, "files")
        os.makedirs(files, exist_ok=True)
        for name in ("rec.mkv", "rec-1.mkv", "studio.conf", "my show.mkv", "my *.mkv"):
            open(os.path.join(files, name), "w").close()
        options = sorted(self.options)
        cases = [
            (["--profile", ""], sorted(self.profiles)),
            (["--profile", "low"], [p for p in self.profiles if p.startswith("low")]),
            (["--dry-run", "--scene", ""], sorted(self.scenes)),
            (["--scene", "g"], sorted(s for s in self.scenes if s.startswith("g"))),
            ([""], options),
            (["--dry-run", "--li"], [o for o in options if o.startswith("--li")]),
            # A value option takes the next word whatever it is: here --profile is a title.
            (["--overlay-title", "--profile", ""], options),
            (["--record-file", files + "/re"], [files + "/rec-1.mkv", files + "/rec.mkv"]),
            (["--config", files + "/st"], [files + "/studio.conf"]),
            (["--target-file", files + "/my"], [files + "/my *.mkv", files + "/my show.mkv"]),
            (["--stream-key", ""], []),
            (["--ingest-url", ""], []),
        ]
        variants = [False] + ([True] if os.path.exists(BASH_COMPLETION) else [])
        for with_package in variants:
            for words, expected in cases:
                with self.subTest(words=words, bash_completion_package=with_package):
                    self.assertEqual(self.complete(words, with_package), expected)

    def test_zsh_completion_is_valid_and_registered_for_castora(self):
        require_tools("zsh")
        r = subprocess.run(["zsh", "-n", self.zsh], capture_output=True, text=True, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        with open(self.zsh, encoding="utf-8") as f:
            self.assertEqual(f.readline().split(), ["#compdef", "castora"])


if __name__ == "__main__":
    unittest.main()
