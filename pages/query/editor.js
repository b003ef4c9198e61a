// filled in by its feature
