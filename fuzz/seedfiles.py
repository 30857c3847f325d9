"""The one way the fuzzers' seed scripts write their seeds: each seed a file
of its name in the seeds folder beside the script."""
import os


def write_seeds(script, seeds, suffix=""):
    out = os.path.join(os.path.dirname(os.path.abspath(script)), "seeds")
    os.makedirs(out, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out, name + suffix), "wb") as f:
            f.write(data)
