"""identify_prints.py PROBE GALLERY...: the best gallery prints for a probe."""
import sys
import numpy as np
from PIL import Image
import orvane

probe = orvane.extract(sys.argv[1])                            # a bitmap path...
gallery = [orvane.extract(np.asarray(Image.open(p).convert("L")))  # ...or a uint8 array
           for p in sys.argv[2:]]
print(len(probe.minutiae), "minutiae, first:", probe.minutiae[0])
for index, score in orvane.identify(probe, gallery, top=3):
    print(sys.argv[2 + index], score, orvane.match(probe, gallery[index], quick=True))
