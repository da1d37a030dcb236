# The interop tests share the black-box tests' writers of LAS and PNG files.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration"))
