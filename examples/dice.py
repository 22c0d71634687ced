print("example placeholder")
