"""The commands of ``tarnwick``, one module each; ``tarnwick.cli`` lists them."""
