#!/usr/bin/env python3
# The README against the programs, so that what it quotes cannot drift from what they do:
# - each `$ command` of an example runs, a block at a time in a fresh folder that holds a blank
#   2 KiB SUBSYSCG.ROM and a copy of examples/, and prints what the README shows after it;
# - each option that a command gives zenpo-dump or zenpo-convert is one that its --help names
#   (zenpo takes none), and each preset of a cmake command is in CMakePresets.json;
# - each message quoted in the text is printed by an example or listed in a man page;
# - each file it links to or names under a folder of the source tree exists.
#     python3 tests/e2e/readme_e2e.py --zenpo /abs/path/to/zenpo [unittest args]
import argparse, json, os, re, shlex, shutil, subprocess, sys, tempfile, unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAMS = ("zenpo", "zenpo-dump", "zenpo-convert")
MESSAGE = re.compile(r"^(Failed to |Waiting for |Target file is |Source file is |Done!|zenpo-dump: |"
                     r"zenpo-convert: |usage: )")
BIN = ""  # the folder of the built programs, from --zenpo


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as file:
        return file.read()


README = read("README.md")
BLOCKS = re.findall(r"^```[^\n]*\n(.*?)^```", README, re.M | re.S)
PROSE = re.sub(r"^```.*?^```", "", README, flags=re.M | re.S)
SPANS = [" ".join(span.split()) for span in re.findall(r"`([^`]+)`", PROSE)]


# The text of a man page with its requests and font changes taken out, blanks collapsed.
def man_text(page):
    text = re.sub(r"^\.\S+ ?", "", read(page), flags=re.M)
    text = re.sub(r"\\f[BIRP]|\\&|\\%|\"", "", text).replace("\\-", "-").replace("\\(aq", "'")
    return " ".join(text.replace("\\~", " ").split())


# The command lines of the README: those of its code blocks, without prompts and comments,
# and the code spans of its text that start with a program; each split into simple commands.
def commands():
    lines = [line for block in BLOCKS for line in block.splitlines()] + SPANS
    for line in lines:
        line = re.sub(r"\s+#.*", "", line.removeprefix("$ "))
        try:
            words = shlex.split(line)
        except ValueError:
            continue
        command = []
        for word in words + ["&&"]:
            if word in ("&&", "||", "|", ";"):
                if command:
                    yield command
                command = []
            else:
                command.append(word)


def run(command, folder):
    env = {**os.environ, "PATH": BIN + os.pathsep + os.environ["PATH"], "LC_ALL": "C"}
    proc = subprocess.run(command, shell=True, cwd=folder, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=60)
    return proc.stdout.decode("utf-8", "replace")


class ReadmeTest(unittest.TestCase):
    outputs = []  # what the examples printed

    @classmethod
    def setUpClass(cls):
        for block in BLOCKS:
            steps = re.split(r"^\$ ", block, flags=re.M)[1:]
            if not steps:
                continue
            with tempfile.TemporaryDirectory() as folder:
                shutil.copytree(os.path.join(ROOT, "examples"), os.path.join(folder, "examples"))
                with open(os.path.join(folder, "SUBSYSCG.ROM"), "wb") as image:
                    image.write(bytes(2048))
                for step in steps:
                    command, _, shown = step.partition("\n")
                    cls.outputs.append((command, shown, run(command, folder)))

    def test_examples_print_what_the_readme_shows(self):
        self.assertGreaterEqual(len(self.outputs), 5)
        for command, shown, printed in self.outputs:
            with self.subTest(command=command):
                self.assertEqual(printed, shown)

    def test_options_are_the_programs_and_presets_exist(self):
        options_of = {program: set(re.findall(r"(?<![\w-])--?[a-z][\w-]*", run(program + " --help", ROOT)))
                      for program in PROGRAMS[1:]}
        presets = json.loads(read("CMakePresets.json"))
        seen = 0
        for command in commands():
            name, options = command[0], [w.split("=")[0] for w in command[1:] if re.match(r"-.", w)]
            with self.subTest(command=" ".join(command)):
                if name in options_of:
                    seen += 1
                    self.assertLessEqual(set(options), options_of[name])
                elif name == "zenpo":
                    seen += 1
                    self.assertEqual(options, [], "zenpo takes no option")
                elif name == "cmake" and "--preset" in command:
                    kind = "workflowPresets" if "--workflow" in command else \
                        "buildPresets" if "--build" in command else "configurePresets"
                    preset = command[command.index("--preset") + 1]
                    self.assertIn(preset, [p["name"] for p in presets[kind]])
        self.assertGreaterEqual(seen, 10)
        for span in SPANS:  # an option quoted alone, as `--drop left`
            if re.match(r"--?[a-z]", span):
                with self.subTest(option=span):
                    self.assertIn(span.split()[0], set.union(*options_of.values()))

    def test_messages_are_printed_or_in_a_man_page(self):
        printed = " ".join(" ".join(output.split()) for _, _, output in self.outputs)
        pages = " ".join(man_text(page) for page in ("zenpo.1", "zenpo-dump.1", "zenpo-convert.1"))
        messages = [span for span in SPANS if MESSAGE.match(span)]
        self.assertGreaterEqual(len(messages), 2)
        for message in messages:
            with self.subTest(message=message):
                self.assertTrue(message in printed or message in pages, "neither printed nor listed")

    def test_files_named_exist(self):
        links = re.findall(r"\]\(([^)#:]+)\)", README)
        paths = [span for span in SPANS if re.fullmatch(r"[\w.-]+/[\w./-]+", span)  # of the tree,
                 and os.path.isdir(os.path.join(ROOT, span.split("/")[0]))  # not built
                 and not span.startswith("build/") and not re.search(r"[A-Z]{3,}(?=_)|(?<=/)[A-Z]{3,}(?=/|$)", span)]
        self.assertGreaterEqual(len(links), 5)
        for path in links + paths:
            with self.subTest(path=path):
                self.assertTrue(os.path.exists(os.path.join(ROOT, path)))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--zenpo", required=True)
    args, rest = parser.parse_known_args()
    BIN = os.path.dirname(os.path.abspath(args.zenpo))
    unittest.main(argv=[sys.argv[0]] + rest)
