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
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"
PROFILES = [line.split(" | ")[0] for line in golden("profiles.txt").splitlines()]
SCENES = [line.split(" | ")[0] for line in golden("scenes.txt").splitlines() if " | " in line]
OPTIONS = sorted(re.findall(r"^  (--[a-z-]+)", golden("help.txt"), re.M))


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        require_tools("cmake")
        if not os.path.exists(os.path.join(BUILD, "cmake_install.cmake")):
            raise unittest.SkipTest("no CMake build tree beside CASTORA_BIN")
        cls.prefix = tempfile.mkdtemp(prefix="castora-install-")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True, capture_output=True,
                       timeout=120)
        cls.man = os.path.join(cls.prefix, "share", "man", "man1", "castora.1")
        cls.bash = os.path.join(cls.prefix, "share", "bash-completion", "completions", "castora")
        cls.zsh = os.path.join(cls.prefix, "share", "zsh", "site-functions", "_castora")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def test_installed_program_runs(self):
        r = run_castora(["--version"], program=os.path.join(self.prefix, "bin", "castora"))
        self.assertEqual((r.status, r.stdout), (0, "Brevalo Castora Native 0.2.1\n"))

    def test_man_page_renders_without_warnings_in_80_columns(self):
        require_tools("man", "groff")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "MANWIDTH": "80", "MANPAGER": "cat"}
        r = subprocess.run(["man", "--warnings=w", "-l", self.man], capture_output=True, text=True, env=env,
                           timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        for section in ("NAME", "SYNOPSIS", "OPTIONS", "CONFIGURATION FILE", "TARGET FILE", "EXIT STATUS", "FILES"):
            self.assertRegex(r.stdout, re.compile("^" + section + "$", re.M))
        self.assertEqual([line for line in r.stdout.splitlines() if len(line) > 80], [])

    def complete(self, words, with_bash_completion):
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
                           capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL, cwd=self.prefix,
                           env=env)
        self.assertEqual((r.returncode, r.stderr), (0, ""), words)
        return sorted(word for word in r.stdout.split("\n") if word)

    def test_bash_completion_offers_keys_options_and_paths(self):
        require_tools("bash")
        files = os.path.join(self.prefix, "files")
        os.makedirs(files, exist_ok=True)
        for name in ("rec.mkv", "rec-1.mkv", "studio.conf", "my show.mkv", "my *.mkv"):
            open(os.path.join(files, name), "w").close()
        cases = [
            (["--profile", ""], sorted(PROFILES)), (["--profile", "low"], ["low_power_360p"]),
            (["--dry-run", "--scene", "g"], ["game_battle", "gift_war_scoreboard"]),
            ([""], OPTIONS), (["--dry-run", "--li"], [o for o in OPTIONS if o.startswith("--li")]),
            # A value option takes the next word whatever it is: here --profile is a title.
            (["--overlay-title", "--profile", ""], OPTIONS),
            (["--record-file", files + "/re"], [files + "/rec-1.mkv", files + "/rec.mkv"]),
            (["--target-file", files + "/my"], [files + "/my *.mkv", files + "/my show.mkv"]),
            (["--stream-key", ""], []),
        ]
        for with_package in [False] + ([True] if os.path.exists(BASH_COMPLETION) else []):
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
