import os
import subprocess


def run(cmd):
    return subprocess.call(cmd, shell=True)


def evaluate(expression):
    return eval(expression)
