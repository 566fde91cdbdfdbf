"""The README's main job keeps working: the example grammar reads the shipped configuration file."""
import os
import subprocess
import sys

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "main.py")


def test_example_reads_the_configuration():
    out = subprocess.run([sys.executable, EXAMPLE], capture_output=True, text=True, check=True).stdout
    assert "server.conf: 1001 bytes, 40 lines, 2 comments, 6 blank" in out
    assert "  limits.burst = 2500 (expression)" in out
    assert "  limits.backlog = 500.0 (expression)" in out
    assert "  service.motd = \"Bienvenue à l'ingestion, café inclus\" (text)" in out
    assert "28 settings, 15 numeric; 4 file paths" in out
    assert "  data_dir = <path>" in out
