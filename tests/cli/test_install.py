"""The installed tree: castora, its man page and its bash and zsh completions. Which options and keys they name is
checked against the option table by the unit tests; here they must install, render and complete."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import CASTORA, golden, require_tools, run_castora

BUILD = os.path.dirname(os.path.abspath(CASTORA))
COMPLETE = ('source "$1"; shift; spec=$(complete -p castora); f=${spec##*-F }; f=${f%% *}\n'
            'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "$f" castora "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"\n'
            'printf "%s\\n" "${COMPREPLY[@]}"\n')


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        require_tools("cmake", "bash", "zsh", "man", "groff")
        cls.prefix = tempfile.mkdtemp(prefix="castora-install-")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True, capture_output=True,
                       timeout=120)
        cls.share = os.path.join(cls.prefix, "share")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def run_tool(self, *args, **env):
        r = subprocess.run(args, capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL,
                           env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", **env})
        self.assertEqual((r.returncode, r.stderr), (0, ""), args)
        return r.stdout

    def test_program_man_page_and_completions_work_where_installed(self):
        r = run_castora(["--version"], program=os.path.join(self.prefix, "bin", "castora"))
        self.assertEqual((r.status, r.stdout), (0, golden("help.txt").splitlines(keepends=True)[0]))
        page = self.run_tool("man", "--warnings=w", "-l", os.path.join(self.share, "man", "man1", "castora.1"),
                             MANWIDTH="80", MANPAGER="cat")
        for section in ("NAME", "SYNOPSIS", "OPTIONS", "CONFIGURATION FILE", "TARGET FILE", "EXIT STATUS"):
            self.assertRegex(page, re.compile("^" + section + "$", re.M))
        self.assertEqual([line for line in page.splitlines() if len(line) > 80], [])
        zsh = os.path.join(self.share, "zsh", "site-functions", "_castora")
        self.run_tool("zsh", "-n", zsh)
        with open(zsh) as f:
            self.assertEqual(f.readline().split(), ["#compdef", "castora"])
        bash = os.path.join(self.share, "bash-completion", "completions", "castora")
        open(os.path.join(self.prefix, "my show.mkv"), "w").close()
        for words, offered in ((["--profile", "low"], ["low_power_360p"]),
                               (["--dry-run", "--scene", "g"], ["game_battle", "gift_war_scoreboard"]),
                               (["--overlay-title", "--profile", "--li"], ["--list-automation", "--list-platforms",
                                                              "--list-profiles", "--list-scenes"]),
                               (["--record-file", self.prefix + "/my"], [self.prefix + "/my show.mkv"]),
                               (["--stream-key", ""], [])):
            with self.subTest(words=words):
                out = self.run_tool("bash", "--norc", "-c", COMPLETE, "bash", bash, "castora", *words)
                self.assertEqual(sorted(filter(None, out.split("\n"))), offered)


if __name__ == "__main__":
    unittest.main()
