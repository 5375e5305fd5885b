import concurrent.futures

import numpy as np
import pytest
from PIL import Image

import orvane


def grey(path):
    with Image.open(path) as im:
        return np.asarray(im.convert("L"))


@pytest.fixture(scope="module")
def templates(prints):
    return [orvane.extract(p) for p in prints]


def test_array_pil_and_path_give_the_programs_template(real_prints, cli, tmp_path):
    for i, path in enumerate(real_prints):
        out = tmp_path / f"{i}.tpl"
        cli.run("--quiet", "extract", path, "-o", out)
        expected = out.read_bytes()
        assert orvane.extract(path).data == expected, path
        assert orvane.extract(str(path)).data == expected
        assert orvane.extract(grey(path)).data == expected
        with Image.open(path) as im:
            assert bytes(orvane.extract(im)) == expected
        assert orvane.Template.load(out).data == expected
        # An array already in bitmap-file row order.
        assert orvane.extract(np.ascontiguousarray(grey(path)[::-1]), bottom_up=True).data == expected


def test_minutiae_describe_the_template(prints, templates, tmp_path):
    for path, t in zip(prints, templates):
        height, width = grey(path).shape
        m = t.minutiae
        assert m.dtype == orvane.MINUTIA_DTYPE
        assert len(m) == t.data[2] and len(t) == 7 * len(m) + 4
        assert ((0 <= m["x"]) & (m["x"] < width) & (0 <= m["y"]) & (m["y"] < height)).all()
        assert ((0 <= m["direction"]) & (m["direction"] < 360)).all()
        assert set(m["kind"]) <= {1, 2}
        assert m["ring_orientation"].shape == (len(m), 3)
        assert (((0 <= m["ring_orientation"]) & (m["ring_orientation"] < 180)) | (m["ring_orientation"] == 255)).all()
        assert not m.flags.writeable
        t.save(tmp_path / "t.tpl")
        assert orvane.Template.load(tmp_path / "t.tpl") == t == orvane.Template(bytes(t))


def test_match_and_quality_equal_the_program(prints, templates, cli, tmp_path):
    files = []
    for i, t in enumerate(templates[:5]):
        files.append(tmp_path / f"{i}.tpl")
        t.save(files[-1])
    for a in range(len(files)):
        for b in (a, (a + 1) % len(files)):
            for quick in (False, True):
                expected = cli.json("match", files[a], files[b], *(["--quick"] if quick else []))["score"]
                assert orvane.match(templates[a], templates[b], quick=quick) == expected
                assert templates[a].match(templates[b].data, quick) == expected
    report = cli.json("quality", *prints)
    rows = report["images"] if isinstance(report, dict) else report  # one object, or a list of images
    expected = [r["quality"] for r in rows]
    assert [orvane.quality(p) for p in prints] == expected
    assert [orvane.quality(grey(p)) for p in prints] == expected


@pytest.mark.parametrize("quick", [False, True])
def test_identify_gives_the_best_scores_in_order(templates, quick):
    probe = templates[1]
    scores = [orvane.match(probe, t, quick=quick) for t in templates]
    everything = sorted(((i, s) for i, s in enumerate(scores)), key=lambda h: (-h[1], h[0]))
    assert orvane.identify(probe, templates, top=10**12, quick=quick) == everything
    assert orvane.identify(probe, templates, top=3, quick=quick, threads=2) == everything[:3]
    assert everything[0] == (1, max(scores))
    threshold = everything[2][1] + 1
    assert orvane.identify(probe, templates, top=99, threshold=threshold, quick=quick) == [
        h for h in everything if h[1] >= threshold]
    assert orvane.identify(probe, [], top=5) == []
    assert orvane.identify(probe, templates, top=0) == []

    gallery = orvane.TemplateSet()
    assert [gallery.add(t.data) for t in templates[:3]] == [0, 1, 2] and len(gallery) == 3
    assert gallery.search(templates[2], top=1, quick=quick)[0].index == 2


def test_errors_carry_the_result_code(templates, tmp_path):
    damaged = bytearray(templates[0].data)
    damaged[-1] ^= 1
    cases = [
        (lambda: orvane.extract(np.zeros((481, 100), np.uint8)), 10300, "size"),
        (lambda: orvane.quality(np.zeros((10, 641), np.uint8)), 10300, "size"),
        (lambda: orvane.extract(np.full((300, 300), 255, np.uint8)), 10400, "extraction"),
        (lambda: orvane.extract(tmp_path / "missing.bmp"), 10100, "missing.bmp"),
        (lambda: orvane.quality(tmp_path / "missing.bmp"), 10100, "missing.bmp"),
        (lambda: orvane.Template(bytes(damaged)), 10700, "damaged"),
        (lambda: orvane.Template(b""), 10700, ""),
        (lambda: orvane.Template(templates[0].data[:-1]), 10700, "bytes given"),
        (lambda: orvane.Template(templates[0].data + b"\0"), 10700, "bytes given"),
        (lambda: orvane.match(templates[0], bytes(damaged)), 10700, ""),
        (lambda: orvane.TemplateSet().add(bytes(damaged)), 10700, ""),
    ]
    for call, code, text in cases:
        with pytest.raises(orvane.OrvaneError) as caught:
            call()
        assert caught.value.code == code
        assert text in caught.value.message
    with pytest.raises(ValueError):
        orvane.extract(np.zeros((30, 30, 3), np.uint8))
    with pytest.raises(ValueError):
        orvane.extract(np.zeros((30, 30), np.float32))
    with pytest.raises(TypeError):
        orvane.extract([[0, 1], [2, 3]])
    extractor = orvane.Extractor()
    extractor.close()
    with pytest.raises(ValueError):
        extractor.extract(np.zeros((30, 30), np.uint8))


def test_threads_give_the_same_results(prints, templates, tmp_path):
    images = [grey(p) for p in prints] * 2
    expected = [t.data for t in templates] * 2
    shared = orvane.Extractor()
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        own = list(pool.map(lambda im: orvane.extract(im).data, images))  # one extractor per thread
        one = list(pool.map(lambda im: shared.extract(im).data, images))  # one extractor, taken in turn
        pairs = [(a, b) for a in templates for b in templates[:4]]
        scores = list(pool.map(lambda ab: orvane.match(*ab, quick=True), pairs))
        gallery = orvane.TemplateSet(templates)
        found = list(pool.map(lambda t: gallery.search(t, top=1)[0].index, templates))
        with orvane.Gallery(tmp_path / "threads.db") as store:  # one connection, taken in turn
            rows = list(pool.map(lambda it: store.enrol(it[1], f"s{it[0]}"), enumerate(templates)))
            best = list(pool.map(lambda t: store.identify(t, top=1)[0].id, templates))
    assert own == expected and one == expected
    assert sorted(rows) == list(range(min(rows), min(rows) + len(rows)))
    assert best == rows
    assert scores == [orvane.match(a, b, quick=True) for a, b in pairs]
    assert found == [templates.index(t) for t in templates]


def test_gallery_enrols_identifies_and_verifies(prints, templates, tmp_path):
    path = tmp_path / "prints.db"
    with orvane.Gallery(path) as gallery:
        rows = [gallery.enrol(t, f"subject{i}", finger=1 + i % 10, impression=1) for i, t in enumerate(templates)]
        assert len(gallery) == len(templates)
        # An image and a file are extracted as orvane.extract does; the same
        # pixels, or the same file, a second time are refused.
        image_row = gallery.enrol(grey(prints[0]), "from-image")
        file_row = gallery.enrol(prints[0], "from-file")
        for again in (grey(prints[0]), prints[0]):
            with pytest.raises(orvane.OrvaneError) as caught:
                gallery.enrol(again, "again")
            assert caught.value.code == 20500 and "enrolled" in caught.value.message
        hits = gallery.identify(templates[0], top=3)
        assert [h.id for h in hits] == [rows[0], image_row, file_row]  # equal scores: lower row first
        assert hits[0] == orvane.GalleryHit(rows[0], "subject0", 1, 1, orvane.match(templates[0], templates[0]))
        assert [h.score for h in hits] == [hits[0].score] * 3
        assert gallery.identify(prints[0], top=1)[0].id == rows[0]
        assert gallery.verify(templates[1], "subject1", threshold=50) == (True, orvane.match(templates[1], templates[1]), rows[1])
        assert gallery.verify(templates[1], "nobody", threshold=1) == (False, 0, 0)
        assert gallery.remove(image_row) and gallery.remove(file_row) and not gallery.remove(image_row)
        with pytest.raises(orvane.OrvaneError) as caught:
            gallery.enrol(templates[0], "")
        assert caught.value.code == 20500
    with orvane.Gallery(path, read_only=True) as gallery:
        assert len(gallery) == len(templates)
        with pytest.raises(orvane.OrvaneError):
            gallery.enrol(templates[0], "late")
    (tmp_path / "text.db").write_bytes(b"not a gallery" * 10)
    with pytest.raises(orvane.OrvaneError) as caught:
        orvane.Gallery(tmp_path / "text.db")
    assert caught.value.code == 20400
