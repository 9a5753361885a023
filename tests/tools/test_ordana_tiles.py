"""The tile runner on a local cluster of two workers: tiled runs merged into one equal the whole
run, a failing tile is retried and named with nothing merged, and class maps and GeoPackages of
georeferenced tiles join into the whole's. Run with /usr/bin/python3 -m pytest."""

import glob
import importlib.machinery
import os
import subprocess
import sys
import types

import numpy
import pytest
from osgeo import gdal, ogr, osr

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "..", "..", "tools", "ordana-tiles")
loader = importlib.machinery.SourceFileLoader("ordana_tiles", RUNNER)
tiles = types.ModuleType("ordana_tiles")
tiles.__file__ = RUNNER
loader.exec_module(tiles)

ORDANA = os.environ.get("ORDANA_BINARY") or tiles.find_ordana()


def write_picture(path, classes, seed):
    """An RGB picture whose 10-pixel blocks are red or blue by the class array, with noise."""
    random = numpy.random.default_rng(seed)
    height, width = classes.shape
    bands = numpy.zeros((3, height, width), numpy.uint8)
    bands[0] = numpy.where(classes == 0, 200, 30)
    bands[2] = numpy.where(classes == 0, 40, 200)
    bands += random.integers(0, 20, bands.shape, dtype=numpy.uint8)
    memory = gdal.GetDriverByName("MEM").Create("", width, height, 3, gdal.GDT_Byte)
    memory.WriteArray(bands)
    gdal.GetDriverByName("PNG").CreateCopy(path, memory)


@pytest.fixture(scope="module")
def scene(tmp_path_factory):
    if not ORDANA:
        pytest.skip("no ordana program built")
    folder = tmp_path_factory.mktemp("scene")
    training = numpy.zeros((40, 60), int)
    training[:, 30:] = 1
    write_picture(str(folder / "train.png"), training, 1)
    (folder / "train.cct").write_text(
        "train.png\n2\nred\nblue\n2\n#ff0000\n#0000ff\n2\nred\nblue\n2\n"
        "4\n0 0\n0 40\n30 40\n30 0\n4\n30 0\n30 40\n60 40\n60 0\n")
    result = subprocess.run([ORDANA, "--image", "train.png", "--file", "train.cct", "--wca",
                             "--aws", "5", "--experiments", "2", "--mlp", "--mhidden", "4",
                             "--mlr", "0.3", "--mm", "0.1", "--merr", "0.001", "--miter", "200",
                             "--seed", "17"], cwd=folder, capture_output=True)
    assert result.returncode == 0, result.stdout
    model = glob.glob(str(folder / "*.mlp"))
    assert len(model) == 1
    blocks = numpy.random.default_rng(5).integers(0, 2, (6, 8))
    write_picture(str(folder / "scene.png"), numpy.kron(blocks, numpy.ones((10, 10), int))[:53, :77], 2)
    return folder, model[0]


def outputs(folder):
    found = {}
    for path in glob.glob(os.path.join(folder, "*")):
        name = os.path.basename(path)
        found[tiles.output_kind(name, "scene")] = path
    return found


def layer_features(path, layer_name):
    """The layer's features as a set of (normalized geometry, every field's value)."""
    source = ogr.Open(path)
    found = set()
    for feature in source.GetLayerByName(layer_name):
        geometry = feature.GetGeometryRef().Normalize()
        found.add((geometry.ExportToWkt(), tuple(sorted(feature.items().items()))))
    return found


def run_tiles(scene_folder, model, output, *more):
    return subprocess.run([sys.executable, RUNNER, "--image", str(scene_folder / "scene.png"),
                           "--modelfile", model, "--workers", "2", "--ordana", ORDANA,
                           "--output", output + os.sep] + list(more),
                          capture_output=True, text=True)


# On the window grid, tiles of 23 pixels leave a bottom row of tiles that holds no window corner.
@pytest.mark.parametrize("sampling,tile,write", [("pixel", 16, None), ("window", 23, None),
                                                 ("half", 30, "map,labels")])
def test_merged_tiles_equal_the_whole_run(scene, tmp_path, sampling, tile, write):
    folder, model = scene
    chosen = ["--write", write] if write else []
    whole = tmp_path / "whole"
    whole.mkdir()
    single = subprocess.run([ORDANA, "--image", str(folder / "scene.png"), "--modelfile", model,
                             "--sampling", sampling, "--output", str(whole) + os.sep,
                             "--write", write or ",".join(tiles.MERGED_OUTPUTS)],
                            capture_output=True)
    assert single.returncode == 0, single.stdout
    result = run_tiles(folder, model, str(tmp_path / "tiled"), "--sampling", sampling,
                       "--tile", str(tile), *chosen)
    assert result.returncode == 0, result.stderr
    expected, merged = outputs(whole), outputs(tmp_path / "tiled")
    assert sorted(merged) == sorted(expected)
    for kind in expected:
        if kind.endswith(".cct"):
            with open(expected[kind], "rb") as one, open(merged[kind], "rb") as other:
                assert one.read() == other.read(), kind
        elif kind.endswith(".gpkg"):
            for layer in ("windows", "regions"):
                found = layer_features(expected[kind], layer)
                assert found, layer
                assert layer_features(merged[kind], layer) == found, layer
        else:
            one, other = gdal.Open(expected[kind]), gdal.Open(merged[kind])
            assert numpy.array_equal(one.ReadAsArray(), other.ReadAsArray()), kind
            table = one.GetRasterBand(1).GetColorTable()
            assert [table.GetColorEntry(i) for i in range(3)] == \
                [other.GetRasterBand(1).GetColorTable().GetColorEntry(i) for i in range(3)]
    assert not os.path.exists(tmp_path / "tiled" / "tiles"), "the tile folder stays"


def test_failing_tile_is_retried_then_named_and_nothing_merged(scene, tmp_path):
    folder, model = scene
    attempts = tmp_path / "attempts"
    failing = tmp_path / "failing-ordana"
    failing.write_text("#!/bin/sh\ncase \"$*\" in *'--region 32,16,16,16'*)\n"
                       "  echo try >> '%s'; echo 'made to fail' >&2; exit 1;;\nesac\n"
                       "exec '%s' \"$@\"\n" % (attempts, ORDANA))
    failing.chmod(0o755)
    output = tmp_path / "out"
    result = subprocess.run([sys.executable, RUNNER, "--image", str(folder / "scene.png"),
                             "--modelfile", model, "--sampling", "window", "--tile", "16",
                             "--workers", "2", "--ordana", str(failing),
                             "--output", str(output) + os.sep], capture_output=True, text=True)
    assert result.returncode == 1
    assert attempts.read_text().count("try") == tiles.ATTEMPTS
    assert "tile --region 32,16,16,16 failed 3 times" in result.stderr
    assert "made to fail" in result.stderr
    left = os.listdir(output)
    assert len(left) == 1 and left[0].startswith("tiles_"), left
    assert os.path.isdir(output / left[0])


@pytest.mark.parametrize("window,step", [(5, 5), (5, 2), (7, 1), (4, 3)])
def test_map_spans_of_tiles_tile_the_map(window, step):
    for size in (1, 9, 40, 41):
        for tile in (1, 3, 16):
            spans = [tiles.map_span(start, min(tile, size - start), size, window, step)
                     for start in range(0, size, tile)]
            assert spans[0][0] == 0 and spans[-1][1] == size
            assert all(a[1] == b[0] for a, b in zip(spans, spans[1:]))


def georeferenced_map(path, classes, x, y):
    height, width = classes.shape
    data = gdal.GetDriverByName("GTiff").Create(path, width, height, 1, gdal.GDT_Byte)
    data.SetGeoTransform((500000 + 2 * x, 2, 0, 4000000 - 2 * y, 0, -2))
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(32633)
    data.SetProjection(srs.ExportToWkt())
    band = data.GetRasterBand(1)
    table = gdal.ColorTable()
    for index, colour in enumerate([(0, 0, 0, 255), (255, 0, 0, 255), (0, 0, 255, 255)]):
        table.SetColorEntry(index, colour)
    band.SetColorTable(table)
    band.SetNoDataValue(0)
    band.WriteArray(classes)
    return data, srs


def geopackage(path, map_path, srs, windows):
    source = ogr.GetDriverByName("GPKG").CreateDataSource(path)
    layer = source.CreateLayer("windows", srs, ogr.wkbPolygon)
    layer.CreateField(ogr.FieldDefn("class", ogr.OFTString))
    for wkt, name in windows:
        feature = ogr.Feature(layer.GetLayerDefn())
        feature.SetField("class", name)
        feature.SetGeometry(ogr.CreateGeometryFromWkt(wkt))
        layer.CreateFeature(feature)
    regions = source.CreateLayer("regions", srs, ogr.wkbPolygon)
    regions.CreateField(ogr.FieldDefn("class_index", ogr.OFTInteger))
    regions.CreateField(ogr.FieldDefn("class", ogr.OFTString))
    tiles.polygonize_regions(map_path, regions, ["red", "blue"])
    source = None


def features(path, layer_name):
    source = ogr.Open(path)
    layer = source.GetLayerByName(layer_name)
    found = set()
    for feature in layer:
        geometry = feature.GetGeometryRef().Normalize()
        found.add((geometry.ExportToWkt(), feature.GetField("class")))
    return found


def test_georeferenced_maps_and_geopackages_join_into_the_whole(tmp_path):
    random = numpy.random.default_rng(11)
    whole = numpy.kron(random.integers(0, 3, (5, 7)), numpy.ones((6, 6), numpy.uint8))[:29, :41]
    whole_map, srs = georeferenced_map(str(tmp_path / "whole.tif"), whole, 0, 0)
    whole_map = None
    parts, packages, windows = [], [], set()
    for x in range(0, 41, 16):
        for y in range(0, 29, 16):
            part = str(tmp_path / ("part_%d_%d.tif" % (x, y)))
            georeferenced_map(part, whole[y:y + 16, x:x + 16], x, y)
            mine = [("POLYGON ((%d %d,%d %d,%d %d,%d %d,%d %d))" % (
                x, y, x, y + 5, x + 5, y + 5, x + 5, y, x, y), "red" if x % 32 else "blue")]
            windows.update((ogr.CreateGeometryFromWkt(w).ExportToWkt(), c) for w, c in mine)
            geopackage(str(tmp_path / ("part_%d_%d.gpkg" % (x, y))), part, srs, mine)
            parts.append(part)
            packages.append(str(tmp_path / ("part_%d_%d.gpkg" % (x, y))))
    merged = str(tmp_path / "merged.tif")
    tiles.merge_geotiff_maps(parts, merged)
    joined = gdal.Open(merged)
    assert numpy.array_equal(joined.ReadAsArray(), whole)
    assert joined.GetGeoTransform() == (500000, 2, 0, 4000000, 0, -2)
    assert joined.GetRasterBand(1).GetColorTable().GetColorEntry(2) == (0, 0, 255, 255)
    assert joined.GetRasterBand(1).GetNoDataValue() == 0
    # A tile left out leaves its part of the whole extent at the no-data index.
    gapped = str(tmp_path / "gapped.tif")
    tiles.merge_geotiff_maps(parts[1:], gapped, (500000, 4000000 - 58, 500082, 4000000))
    expected_gap = whole.copy()
    expected_gap[:16, :16] = 0
    assert numpy.array_equal(gdal.Open(gapped).ReadAsArray(), expected_gap)
    tiles.merge_geopackages(packages, merged, ["red", "blue"], str(tmp_path / "merged.gpkg"))
    geopackage(str(tmp_path / "whole.gpkg"), str(tmp_path / "whole.tif"), srs, [])
    normalized = set()
    for wkt, name in windows:
        geometry = ogr.CreateGeometryFromWkt(wkt).Normalize()
        normalized.add((geometry.ExportToWkt(), name))
    assert features(str(tmp_path / "merged.gpkg"), "windows") == normalized
    expected = features(str(tmp_path / "whole.gpkg"), "regions")
    assert len(expected) > len(parts)
    assert features(str(tmp_path / "merged.gpkg"), "regions") == expected
